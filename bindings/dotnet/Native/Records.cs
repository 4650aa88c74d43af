using System.Runtime.InteropServices;

namespace PTabletSettings.Native
{
    // The header's records, field for field. Text fields are fixed arrays of
    // UTF-16 units ending in a zero unit inside the array: ByValTStr with
    // SizeConst units reads up to that zero and writes the text with one.
    // Layout.Check compares each size with the header's before any call.

    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    internal struct PevraNUV_Versions
    {
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 16)] internal string hidRouterVersion;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 16)] internal string serviceVersion;
    }

    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    internal struct PevraNUV_PenInfo
    {
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 16)] internal string serialNumber;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 16)] internal string penId;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 16)] internal string btId;
        internal int batteryStatus;
    }

    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    internal struct PevraNUV_ButtonFunction
    {
        // The text's units, the terminating zero not counted.
        internal const int MaxTextUnits = 511;

        internal int function;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = MaxTextUnits + 1)] internal string text;
    }

    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    internal struct PevraNUV_SideSwitch
    {
        internal PevraNUV_ButtonFunction press;
        internal uint hoverClick;
    }

    [StructLayout(LayoutKind.Sequential)]
    internal struct PevraNUV_ZoomMap
    {
        internal int a;
        internal int b;
        internal int c;
        internal int d;
    }
}
