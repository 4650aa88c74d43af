using System;
using System.Runtime.InteropServices;

namespace PTabletSettings.Native
{
    // Managed copies of what a callback receives, and records of managed values.
    internal static class Copy
    {
        private static readonly int FunctionBytes = Marshal.SizeOf(typeof(PevraNUV_ButtonFunction));

        internal static Versions Versions(IntPtr record)
        {
            var v = Marshal.PtrToStructure<PevraNUV_Versions>(record);
            return new Versions(v.hidRouterVersion, v.serviceVersion);
        }

        internal static PenInfo PenInfo(IntPtr record)
        {
            var p = Marshal.PtrToStructure<PevraNUV_PenInfo>(record);
            return new PenInfo(p.serialNumber, p.penId, p.btId, p.batteryStatus);
        }

        internal static SideSwitch SideSwitch(IntPtr record)
        {
            var s = Marshal.PtrToStructure<PevraNUV_SideSwitch>(record);
            return new SideSwitch(Function(s.press), s.hoverClick != 0);
        }

        // count records from first on.
        internal static ButtonFunction[] Functions(IntPtr first, int count)
        {
            var functions = new ButtonFunction[count];
            for (int i = 0; i < count; ++i)
                functions[i] = Function(Marshal.PtrToStructure<PevraNUV_ButtonFunction>(first + i * FunctionBytes));
            return functions;
        }

        internal static ButtonFunction Function(IntPtr functions, UIntPtr index) =>
            Function(Marshal.PtrToStructure<PevraNUV_ButtonFunction>(functions + (int)index * FunctionBytes));

        internal static ButtonFunction Function(PevraNUV_ButtonFunction record) =>
            new ButtonFunction(record.function, record.text);

        internal static PevraNUV_ButtonFunction Record(ButtonFunction function)
        {
            if (function == null) throw new ArgumentNullException(nameof(function));
            return new PevraNUV_ButtonFunction { function = function.Code, text = function.Text };
        }

        internal static ZoomMap Zoom(PevraNUV_ZoomMap z) => new ZoomMap(z.a, z.b, z.c, z.d);

        internal static PevraNUV_ZoomMap Record(ZoomMap z) => new PevraNUV_ZoomMap { a = z.A, b = z.B, c = z.C, d = z.D };
    }
}
