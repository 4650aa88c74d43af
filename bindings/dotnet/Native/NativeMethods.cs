using System;
using System.Runtime.InteropServices;

namespace PTabletSettings.Native
{
    // Every export of PTabletSettingsAPI.h. The library is found by its base
    // name: PTabletSettingsAPI.dll on Windows (beside the program, or
    // runtimes/<rid>/native through the package), libPTabletSettingsAPI.so
    // elsewhere. Every argument is blittable (records by pointer, text as
    // UTF-16 units), so no marshalling code runs. The exports are plain C
    // functions; x64 and ARM64 have one C calling convention, the default.
    // net8.0: stubs generated at compile time (LibraryImport), no run-time
    // marshalling IL, AOT-safe. netstandard2.0: classic DllImport.
    internal static unsafe partial class NativeMethods
    {
        internal const string Library = "PTabletSettingsAPI";

#if NET
        [LibraryImport(Library)] internal static partial int PevraNUV_Connect(int timeout);
        [LibraryImport(Library)] internal static partial void PevraNUV_Shutdown();
        [LibraryImport(Library)] internal static partial void PevraNUV_SetLogLevel(int level);
        // The library keeps the table's address: it is unmanaged memory the binding owns.
        [LibraryImport(Library)] internal static partial void PevraNUV_RegisterCallbacks(PevraNUV_Callbacks* callbacks, IntPtr context);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetEraserSinglePress(PevraNUV_ButtonFunction* record);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetEraserDoublePress(PevraNUV_ButtonFunction* record);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetEraserLongPress(PevraNUV_ButtonFunction* record);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetTopSinglePress(PevraNUV_ButtonFunction* record);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetBottomSinglePress(PevraNUV_ButtonFunction* record);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetMenuOp(int index, PevraNUV_ButtonFunction* record);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetTopHoverClick(uint value);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetBottomHoverClick(uint value);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetMenuCenterRightClick(uint value);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetTiltSensitivity(uint value);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetTipSensitivity(uint value);
        [LibraryImport(Library)] internal static partial void PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap zoom);
        [LibraryImport(Library)] internal static partial void PevraNUV_ResetSlavedDisplayZoom();
        [LibraryImport(Library)] internal static partial void PevraNUV_StartKeyCapture();
        [LibraryImport(Library)] internal static partial void PevraNUV_FinishKeyCapture(char* buffer, UIntPtr bufferBytes);
#else
        [DllImport(Library)] internal static extern int PevraNUV_Connect(int timeout);
        [DllImport(Library)] internal static extern void PevraNUV_Shutdown();
        [DllImport(Library)] internal static extern void PevraNUV_SetLogLevel(int level);
        [DllImport(Library)] internal static extern void PevraNUV_RegisterCallbacks(PevraNUV_Callbacks* callbacks, IntPtr context);
        [DllImport(Library)] internal static extern void PevraNUV_SetEraserSinglePress(PevraNUV_ButtonFunction* record);
        [DllImport(Library)] internal static extern void PevraNUV_SetEraserDoublePress(PevraNUV_ButtonFunction* record);
        [DllImport(Library)] internal static extern void PevraNUV_SetEraserLongPress(PevraNUV_ButtonFunction* record);
        [DllImport(Library)] internal static extern void PevraNUV_SetTopSinglePress(PevraNUV_ButtonFunction* record);
        [DllImport(Library)] internal static extern void PevraNUV_SetBottomSinglePress(PevraNUV_ButtonFunction* record);
        [DllImport(Library)] internal static extern void PevraNUV_SetMenuOp(int index, PevraNUV_ButtonFunction* record);
        [DllImport(Library)] internal static extern void PevraNUV_SetTopHoverClick(uint value);
        [DllImport(Library)] internal static extern void PevraNUV_SetBottomHoverClick(uint value);
        [DllImport(Library)] internal static extern void PevraNUV_SetMenuCenterRightClick(uint value);
        [DllImport(Library)] internal static extern void PevraNUV_SetTiltSensitivity(uint value);
        [DllImport(Library)] internal static extern void PevraNUV_SetTipSensitivity(uint value);
        [DllImport(Library)] internal static extern void PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap zoom);
        [DllImport(Library)] internal static extern void PevraNUV_ResetSlavedDisplayZoom();
        [DllImport(Library)] internal static extern void PevraNUV_StartKeyCapture();
        [DllImport(Library)] internal static extern void PevraNUV_FinishKeyCapture(char* buffer, UIntPtr bufferBytes);
#endif
    }
}
