using System;
using System.Runtime.InteropServices;

namespace PTabletSettings.Native
{
    // The shapes of the header's callbacks. Record pointers arrive as IntPtr
    // and are copied with Marshal.PtrToStructure during the call: they are
    // valid only until it returns. size_t is UIntPtr.

    // Slots 0, 1, 5 and 6: one record.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate void RecordCallback(IntPtr context, IntPtr record);

    // Slots 2-4 and 7 (records and the index that changed), 11-16 (records and their count).
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate void FunctionsCallback(IntPtr context, IntPtr functions, UIntPtr indexOrCount);

    // Slots 8 and 9.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate void NumberCallback(IntPtr context, int value);

    // Slot 10: the zoom map by value.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate void ZoomCallback(IntPtr context, PevraNUV_ZoomMap zoom);

    // Slot 17.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate void CountCallback(IntPtr context, UIntPtr count);

    // Slots 18 and 19.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate void RangeCallback(IntPtr context, int low, int high);

    // The callback table: twenty function pointers in the header's order.
    // Marshal.StructureToPtr turns each delegate field into a pointer to a
    // thunk that lives only as long as the delegate: CallbackTable keeps
    // this struct, and with it every delegate, until the library is shut down.
    [StructLayout(LayoutKind.Sequential)]
    internal struct PevraNUV_Callbacks
    {
        internal RecordCallback OnVersions;
        internal RecordCallback OnPenInfo;
        internal FunctionsCallback OnEraserSinglePress;
        internal FunctionsCallback OnEraserDoublePress;
        internal FunctionsCallback OnEraserLongPress;
        internal RecordCallback OnTopSwitch;
        internal RecordCallback OnBottomSwitch;
        internal FunctionsCallback OnMenuOp;
        internal NumberCallback OnTipSensitivity;
        internal NumberCallback OnTiltSensitivity;
        internal ZoomCallback OnSlavedDisplayZoom;
        internal FunctionsCallback OnRunAppOptions;
        internal FunctionsCallback OnTopButtonSingleOptions;
        internal FunctionsCallback OnTopButtonDoubleOptions;
        internal FunctionsCallback OnTopButtonLongOptions;
        internal FunctionsCallback OnSideSwitchOptions;
        internal FunctionsCallback OnRadialWedgeOptions;
        internal CountCallback OnWedgeCount;
        internal RangeCallback OnRangeA;
        internal RangeCallback OnRangeB;
    }
}
