using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
#if NET
using System.Runtime.CompilerServices;
#endif

namespace PTabletSettings.Native
{
    // The functions the library calls, one per slot of its callback table,
    // and the one table that points at them for the life of the process.
    // Each runs on the library's thread with the library's lock held: it
    // copies what it received (the pointers are valid only during the call)
    // and hands it to the TabletSettings whose weak handle is the context.
    // Nothing may be thrown back into native code: what a copy throws (out
    // of memory) loses that value, never the process.
    internal static unsafe class Callbacks
    {
        // The table, made once and never freed: the functions are static, so
        // one table serves every TabletSettings of the process.
        internal static readonly PevraNUV_Callbacks* Table = Make();

        private static PevraNUV_Callbacks* Make()
        {
            var table = (PevraNUV_Callbacks*)Marshal.AllocHGlobal(sizeof(PevraNUV_Callbacks));
            Fill(table);
            return table;
        }

        private static void Deliver(IntPtr context, Slot slot, int index, object value)
        {
            if (GCHandle.FromIntPtr(context).Target is TabletSettings receiver) receiver.Receive(slot, index, value);
        }

        private static ButtonFunction[] List(void* first, UIntPtr count) => Copy.Functions((PevraNUV_ButtonFunction*)first, (int)count);

#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnVersions(IntPtr c, void* r) { try { Deliver(c, Slot.Versions, 0, Copy.Versions((PevraNUV_Versions*)r)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnPenInfo(IntPtr c, void* r) { try { Deliver(c, Slot.PenInfo, 0, Copy.PenInfo((PevraNUV_PenInfo*)r)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnEraserSinglePress(IntPtr c, void* f, UIntPtr i) { try { Deliver(c, Slot.EraserSinglePress, 0, Copy.Function((PevraNUV_ButtonFunction*)f + (int)i)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnEraserDoublePress(IntPtr c, void* f, UIntPtr i) { try { Deliver(c, Slot.EraserDoublePress, 0, Copy.Function((PevraNUV_ButtonFunction*)f + (int)i)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnEraserLongPress(IntPtr c, void* f, UIntPtr i) { try { Deliver(c, Slot.EraserLongPress, 0, Copy.Function((PevraNUV_ButtonFunction*)f + (int)i)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnTopSwitch(IntPtr c, void* r) { try { Deliver(c, Slot.TopSwitch, 0, Copy.SideSwitch((PevraNUV_SideSwitch*)r)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnBottomSwitch(IntPtr c, void* r) { try { Deliver(c, Slot.BottomSwitch, 0, Copy.SideSwitch((PevraNUV_SideSwitch*)r)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnMenuOp(IntPtr c, void* f, UIntPtr i)
        {
            try { Deliver(c, Slot.MenuOp, (int)i, new WedgeEventArgs((Wedge)(int)i, List(f, (UIntPtr)TabletSettings.WedgeCount))); } catch { }
        }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnTipSensitivity(IntPtr c, int v) { try { Deliver(c, Slot.TipSensitivity, 0, v); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnTiltSensitivity(IntPtr c, int v) { try { Deliver(c, Slot.TiltSensitivity, 0, v); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnSlavedDisplayZoom(IntPtr c, PevraNUV_ZoomMap z) { try { Deliver(c, Slot.SlavedDisplayZoom, 0, Copy.Zoom(z)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnRunAppOptions(IntPtr c, void* o, UIntPtr n) { try { Deliver(c, Slot.RunAppOptions, 0, List(o, n)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnTopButtonSingleOptions(IntPtr c, void* o, UIntPtr n) { try { Deliver(c, Slot.TopButtonSingleOptions, 0, List(o, n)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnTopButtonDoubleOptions(IntPtr c, void* o, UIntPtr n) { try { Deliver(c, Slot.TopButtonDoubleOptions, 0, List(o, n)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnTopButtonLongOptions(IntPtr c, void* o, UIntPtr n) { try { Deliver(c, Slot.TopButtonLongOptions, 0, List(o, n)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnSideSwitchOptions(IntPtr c, void* o, UIntPtr n) { try { Deliver(c, Slot.SideSwitchOptions, 0, List(o, n)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnRadialWedgeOptions(IntPtr c, void* o, UIntPtr n) { try { Deliver(c, Slot.RadialWedgeOptions, 0, List(o, n)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnWedgeCount(IntPtr c, UIntPtr n) { try { Deliver(c, Slot.WedgeCount, 0, (int)n); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnRangeA(IntPtr c, int low, int high) { try { Deliver(c, Slot.RangeA, 0, new SettingRange(low, high)); } catch { } }
#if NET
        [UnmanagedCallersOnly]
#endif
        private static void OnRangeB(IntPtr c, int low, int high) { try { Deliver(c, Slot.RangeB, 0, new SettingRange(low, high)); } catch { } }

#if NET
        // Pointers to the static functions themselves: no delegate, no thunk to keep alive.
        private static void Fill(PevraNUV_Callbacks* t)
        {
            t->OnVersions = (IntPtr)(delegate* unmanaged<IntPtr, void*, void>)&OnVersions;
            t->OnPenInfo = (IntPtr)(delegate* unmanaged<IntPtr, void*, void>)&OnPenInfo;
            t->OnEraserSinglePress = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnEraserSinglePress;
            t->OnEraserDoublePress = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnEraserDoublePress;
            t->OnEraserLongPress = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnEraserLongPress;
            t->OnTopSwitch = (IntPtr)(delegate* unmanaged<IntPtr, void*, void>)&OnTopSwitch;
            t->OnBottomSwitch = (IntPtr)(delegate* unmanaged<IntPtr, void*, void>)&OnBottomSwitch;
            t->OnMenuOp = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnMenuOp;
            t->OnTipSensitivity = (IntPtr)(delegate* unmanaged<IntPtr, int, void>)&OnTipSensitivity;
            t->OnTiltSensitivity = (IntPtr)(delegate* unmanaged<IntPtr, int, void>)&OnTiltSensitivity;
            t->OnSlavedDisplayZoom = (IntPtr)(delegate* unmanaged<IntPtr, PevraNUV_ZoomMap, void>)&OnSlavedDisplayZoom;
            t->OnRunAppOptions = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnRunAppOptions;
            t->OnTopButtonSingleOptions = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnTopButtonSingleOptions;
            t->OnTopButtonDoubleOptions = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnTopButtonDoubleOptions;
            t->OnTopButtonLongOptions = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnTopButtonLongOptions;
            t->OnSideSwitchOptions = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnSideSwitchOptions;
            t->OnRadialWedgeOptions = (IntPtr)(delegate* unmanaged<IntPtr, void*, UIntPtr, void>)&OnRadialWedgeOptions;
            t->OnWedgeCount = (IntPtr)(delegate* unmanaged<IntPtr, UIntPtr, void>)&OnWedgeCount;
            t->OnRangeA = (IntPtr)(delegate* unmanaged<IntPtr, int, int, void>)&OnRangeA;
            t->OnRangeB = (IntPtr)(delegate* unmanaged<IntPtr, int, int, void>)&OnRangeB;
        }
#else
        // The runtimes netstandard2.0 serves (.NET Framework, Mono) call
        // managed code through a delegate's thunk: the delegates are held
        // here for the life of the process, so no thunk is ever freed.
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] private delegate void RecordCallback(IntPtr c, void* record);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] private delegate void FunctionsCallback(IntPtr c, void* functions, UIntPtr indexOrCount);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] private delegate void NumberCallback(IntPtr c, int value);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] private delegate void ZoomCallback(IntPtr c, PevraNUV_ZoomMap zoom);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] private delegate void CountCallback(IntPtr c, UIntPtr count);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] private delegate void RangeCallback(IntPtr c, int low, int high);

        // Made on first use: Table's initializer runs before any initializer below it.
        private static List<Delegate>? s_kept;

        private static IntPtr Keep(Delegate callback)
        {
            (s_kept ??= new List<Delegate>()).Add(callback);
            return Marshal.GetFunctionPointerForDelegate(callback);
        }

        private static void Fill(PevraNUV_Callbacks* t)
        {
            t->OnVersions = Keep(new RecordCallback(OnVersions));
            t->OnPenInfo = Keep(new RecordCallback(OnPenInfo));
            t->OnEraserSinglePress = Keep(new FunctionsCallback(OnEraserSinglePress));
            t->OnEraserDoublePress = Keep(new FunctionsCallback(OnEraserDoublePress));
            t->OnEraserLongPress = Keep(new FunctionsCallback(OnEraserLongPress));
            t->OnTopSwitch = Keep(new RecordCallback(OnTopSwitch));
            t->OnBottomSwitch = Keep(new RecordCallback(OnBottomSwitch));
            t->OnMenuOp = Keep(new FunctionsCallback(OnMenuOp));
            t->OnTipSensitivity = Keep(new NumberCallback(OnTipSensitivity));
            t->OnTiltSensitivity = Keep(new NumberCallback(OnTiltSensitivity));
            t->OnSlavedDisplayZoom = Keep(new ZoomCallback(OnSlavedDisplayZoom));
            t->OnRunAppOptions = Keep(new FunctionsCallback(OnRunAppOptions));
            t->OnTopButtonSingleOptions = Keep(new FunctionsCallback(OnTopButtonSingleOptions));
            t->OnTopButtonDoubleOptions = Keep(new FunctionsCallback(OnTopButtonDoubleOptions));
            t->OnTopButtonLongOptions = Keep(new FunctionsCallback(OnTopButtonLongOptions));
            t->OnSideSwitchOptions = Keep(new FunctionsCallback(OnSideSwitchOptions));
            t->OnRadialWedgeOptions = Keep(new FunctionsCallback(OnRadialWedgeOptions));
            t->OnWedgeCount = Keep(new CountCallback(OnWedgeCount));
            t->OnRangeA = Keep(new RangeCallback(OnRangeA));
            t->OnRangeB = Keep(new RangeCallback(OnRangeB));
        }
#endif
    }
}
