using System;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
#if !NET
using System.Reflection;
#endif

namespace PTabletSettings.Native
{
    // Loads the native library before anything else touches it, so that a
    // missing or foreign file is one clear exception from the constructor
    // that names the file and the folders searched, instead of a
    // DllNotFoundException from whichever call came first.
    internal static class Loader
    {
        private static readonly object s_lock = new object();
        private static bool s_loaded;

        internal static string FileName =>
            RuntimeInformation.IsOSPlatform(OSPlatform.Windows) ? NativeMethods.Library + ".dll"
            : RuntimeInformation.IsOSPlatform(OSPlatform.OSX) ? "lib" + NativeMethods.Library + ".dylib"
            : "lib" + NativeMethods.Library + ".so";

        internal static void Load()
        {
            if (IntPtr.Size != 8)
                throw new PlatformNotSupportedException(
                    "PTabletSettings runs in 64-bit processes only (x64 or ARM64): no 32-bit " + FileName + " ships. " +
                    "Build the program for x64 or ARM64, or AnyCPU without 'Prefer 32-bit'.");
            lock (s_lock)
            {
                if (s_loaded) return;
                try
                {
#if NET
                    // The same search as the P/Invoke stubs': the application's
                    // runtimes/<rid>/native (deps.json), its folder, the system's path.
                    NativeLibrary.Load(NativeMethods.Library, typeof(Loader).Assembly, null);
#else
                    LoadArchitectureFolder();
                    Marshal.Prelink(typeof(NativeMethods).GetMethod(nameof(NativeMethods.PevraNUV_Connect),
                                                                    BindingFlags.Static | BindingFlags.NonPublic)!);
#endif
                }
                catch (Exception e) when (e is DllNotFoundException || e is BadImageFormatException || e is EntryPointNotFoundException)
                {
                    throw new DllNotFoundException(
                        $"PTabletSettings cannot load its native library {FileName} for this " +
                        $"{RuntimeInformation.ProcessArchitecture} process. It looked in {string.Join(", ", Folders())} and the " +
                        "system's library path; a file of that name built for another architecture or system counts as missing. " +
                        "The runtime said: " + e.Message, e);
                }
                s_loaded = true;
            }
        }

        private static string[] Folders()
        {
            var folders = new[] { AppContext.BaseDirectory, ArchitectureFolder() }
                .Concat(((AppContext.GetData("NATIVE_DLL_SEARCH_DIRECTORIES") as string) ?? "").Split(Path.PathSeparator))
                .Concat((Environment.GetEnvironmentVariable("LD_LIBRARY_PATH") ?? "").Split(Path.PathSeparator));
            return folders.Where(f => f.Length > 0).Select(f => f.TrimEnd('/', '\\')).Distinct().ToArray();
        }

        // Where the package's .targets file puts the DLL of each architecture
        // for an AnyCPU .NET Framework program: x64\ and arm64\ beside it.
        private static string ArchitectureFolder() =>
            Path.Combine(AppContext.BaseDirectory, RuntimeInformation.ProcessArchitecture.ToString().ToLowerInvariant());

#if !NET
        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        private static extern IntPtr LoadLibraryW(string path);

        // A module loaded by its full path is the one every later P/Invoke
        // by base name gets: the process's architecture chooses the file.
        private static void LoadArchitectureFolder()
        {
            string path = Path.Combine(ArchitectureFolder(), FileName);
            if (RuntimeInformation.IsOSPlatform(OSPlatform.Windows) && File.Exists(path) && LoadLibraryW(path) == IntPtr.Zero)
                throw new DllNotFoundException($"{path}: error {Marshal.GetLastWin32Error()}");
        }
#endif
    }
}
