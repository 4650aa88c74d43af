using System;

namespace PTabletSettings.Native
{
    // The header's records, field for field: blittable, so that the library
    // reads and writes them in place. Text fields are fixed arrays of UTF-16
    // units ending in a zero unit inside the array. The library fills the
    // fields the binding only reads (CS0649 would call them never assigned).
#pragma warning disable CS0649

    internal unsafe struct PevraNUV_Versions
    {
        internal fixed char hidRouterVersion[16];
        internal fixed char serviceVersion[16];
    }

    internal unsafe struct PevraNUV_PenInfo
    {
        internal fixed char serialNumber[16];
        internal fixed char penId[16];
        internal fixed char btId[16];
        internal int batteryStatus;
    }

    internal unsafe struct PevraNUV_ButtonFunction
    {
        // The text's units, the terminating zero not counted.
        internal const int MaxTextUnits = 511;

        internal int function;
        internal fixed char text[MaxTextUnits + 1];
    }

    internal struct PevraNUV_SideSwitch
    {
        internal PevraNUV_ButtonFunction press;
        internal uint hoverClick;
    }

    internal struct PevraNUV_ZoomMap
    {
        internal int a;
        internal int b;
        internal int c;
        internal int d;
    }

    // The callback table: twenty function pointers in the header's order.
    // Each points at a static function of Callbacks, which lives as long as
    // the process: nothing has to be kept alive for the library.
    internal struct PevraNUV_Callbacks
    {
        internal IntPtr OnVersions, OnPenInfo, OnEraserSinglePress, OnEraserDoublePress, OnEraserLongPress,
            OnTopSwitch, OnBottomSwitch, OnMenuOp, OnTipSensitivity, OnTiltSensitivity, OnSlavedDisplayZoom,
            OnRunAppOptions, OnTopButtonSingleOptions, OnTopButtonDoubleOptions, OnTopButtonLongOptions,
            OnSideSwitchOptions, OnRadialWedgeOptions, OnWedgeCount, OnRangeA, OnRangeB;
    }
#pragma warning restore CS0649
}
