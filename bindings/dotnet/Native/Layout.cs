using System;
using System.Runtime.InteropServices;

namespace PTabletSettings.Native
{
    // The checks made before the first call into the library: a 64-bit
    // process, and every record of the size and with the field offsets that
    // the header's static assertions state (a size alone misses a field
    // shrunk into padding). A mismatch would have the library read and write
    // past or beside the binding's records, so the binding refuses to run.
    internal static class Layout
    {
        internal static void Check()
        {
            if (IntPtr.Size != 8)
                throw new PlatformNotSupportedException(
                    "PTabletSettings runs in 64-bit processes only (x64 or ARM64): no 32-bit PTabletSettingsAPI " +
                    "library ships. Build the program for x64, ARM64 or AnyCPU without 'Prefer 32-bit'.");
            Expect(typeof(PevraNUV_Versions), 64);
            Expect(typeof(PevraNUV_PenInfo), 100);
            Expect(typeof(PevraNUV_ButtonFunction), 1028);
            Expect(typeof(PevraNUV_SideSwitch), 1032);
            Expect(typeof(PevraNUV_ZoomMap), 16);
            Expect(typeof(PevraNUV_Callbacks), 160);
            Expect(typeof(PevraNUV_Versions), nameof(PevraNUV_Versions.serviceVersion), 32);
            Expect(typeof(PevraNUV_PenInfo), nameof(PevraNUV_PenInfo.penId), 32);
            Expect(typeof(PevraNUV_PenInfo), nameof(PevraNUV_PenInfo.btId), 64);
            Expect(typeof(PevraNUV_PenInfo), nameof(PevraNUV_PenInfo.batteryStatus), 96);
            Expect(typeof(PevraNUV_ButtonFunction), nameof(PevraNUV_ButtonFunction.text), 4);
            Expect(typeof(PevraNUV_SideSwitch), nameof(PevraNUV_SideSwitch.hoverClick), 1028);
            Expect(typeof(PevraNUV_ZoomMap), nameof(PevraNUV_ZoomMap.d), 12);
            Expect(typeof(PevraNUV_Callbacks), nameof(PevraNUV_Callbacks.OnSlavedDisplayZoom), 80);
            Expect(typeof(PevraNUV_Callbacks), nameof(PevraNUV_Callbacks.OnRangeB), 152);
        }

        private static void Expect(Type record, int bytes) =>
            Require(record.Name, "size", Marshal.SizeOf(record), bytes);

        private static void Expect(Type record, string field, int offset) =>
            Require($"{record.Name}.{field}", "offset", (int)Marshal.OffsetOf(record, field), offset);

        private static void Require(string what, string measure, int found, int expected)
        {
            if (found != expected)
                throw new PlatformNotSupportedException(
                    $"PTabletSettings: {what}: {measure} {found} bytes on this runtime, {expected} in PTabletSettingsAPI.h. " +
                    "The binding does not call the library with a record it would misread.");
        }
    }
}
