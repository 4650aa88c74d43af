using System;
using System.Runtime.InteropServices;

namespace PTabletSettings.Native
{
    // Every export of PTabletSettingsAPI.h, as the header declares it. The
    // library is found by its base name: PTabletSettingsAPI.dll on Windows
    // (beside the program, or runtimes/<rid>/native through the package),
    // libPTabletSettingsAPI.so elsewhere. Text is UTF-16 on every platform,
    // hence CharSet.Unicode; the exports are plain C functions, hence Cdecl
    // (on x64 and ARM64 the one convention there is, stated all the same).
    internal static class NativeMethods
    {
        private const string Library = "PTabletSettingsAPI";
        private const CallingConvention Convention = CallingConvention.Cdecl;
        private const CharSet Text = CharSet.Unicode;

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern int PevraNUV_Connect(int timeout);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_Shutdown();

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetLogLevel(int level);

        // callbacks points to unmanaged memory the binding owns (CallbackTable):
        // the library keeps the address, not a copy.
        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_RegisterCallbacks(IntPtr callbacks, IntPtr context);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetEraserSinglePress([In] ref PevraNUV_ButtonFunction record);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetEraserDoublePress([In] ref PevraNUV_ButtonFunction record);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetEraserLongPress([In] ref PevraNUV_ButtonFunction record);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetTopSinglePress([In] ref PevraNUV_ButtonFunction record);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetBottomSinglePress([In] ref PevraNUV_ButtonFunction record);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetMenuOp(int index, [In] ref PevraNUV_ButtonFunction record);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetTopHoverClick(uint value);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetBottomHoverClick(uint value);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetMenuCenterRightClick(uint value);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetTiltSensitivity(uint value);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetTipSensitivity(uint value);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_SetSlavedDisplayZoom(PevraNUV_ZoomMap zoom);

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_ResetSlavedDisplayZoom();

        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_StartKeyCapture();

        // With CharSet.Unicode a char[] is blittable: the library writes
        // into the pinned array itself.
        [DllImport(Library, CallingConvention = Convention, CharSet = Text)]
        internal static extern void PevraNUV_FinishKeyCapture([Out] char[] buffer, UIntPtr bufferBytes);
    }
}
