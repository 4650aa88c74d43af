using System;
using System.Runtime.InteropServices;

namespace PTabletSettings.Native
{
    // The checks made before the first call into the library: a 64-bit
    // process, and every record as large as the header's static assertions
    // say. A mismatch would have the library read and write past the
    // binding's records, so the binding refuses to run instead.
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
        }

        private static void Expect(Type record, int bytes)
        {
            int size = Marshal.SizeOf(record);
            if (size != bytes)
                throw new PlatformNotSupportedException(
                    $"PTabletSettings: {record.Name} marshals to {size} bytes on this runtime; PTabletSettingsAPI.h " +
                    $"defines it as {bytes}. The binding does not call the library with a record it would misread.");
        }
    }
}
