using System;
using System.Runtime.InteropServices;
using System.Threading;

namespace PTabletSettings.Native
{
    // The one-session-per-process mark, shared with the C++ face: a named
    // kernel object (Windows) or an abstract Unix socket (Linux) named
    // PTabletSettingsAPI.Session.<pid>. A static field exists once per
    // module, so a C++ plugin and this assembly would each see their own;
    // the kernel's name is seen by every module of the process and vanishes
    // with the process, so a crash leaves no stale mark.
    internal sealed unsafe partial class SessionMark : IDisposable
    {
        internal const string Refusal = "another PTabletSettings session is open in this process";

        private const int ErrorAlreadyExists = 183;
        private const int AfUnix = 1, SockStream = 1, SockCloexec = 0x80000, EAddrInUse = 98;

        // Elsewhere (no native library ships for it) a mark of this module only.
        private static int s_moduleMark;

        private IntPtr m_event;
        private int m_socket = -1;
        private bool m_moduleMark;

#if NET
        private static string Name => "PTabletSettingsAPI.Session." + Environment.ProcessId;
#else
        private static string Name => "PTabletSettingsAPI.Session." + System.Diagnostics.Process.GetCurrentProcess().Id;
#endif

        /// <exception cref="InvalidOperationException">The mark is held already.</exception>
        internal static SessionMark Take()
        {
            var mark = new SessionMark();
            if (RuntimeInformation.IsOSPlatform(OSPlatform.Windows))
            {
                fixed (char* name = "Local\\" + Name)
                    mark.m_event = CreateEventW(IntPtr.Zero, 1, 0, name);
                int error = Marshal.GetLastWin32Error();
                if (mark.m_event == IntPtr.Zero) throw new InvalidOperationException(Refusal);
                if (error == ErrorAlreadyExists)
                {
                    mark.Dispose();
                    throw new InvalidOperationException(Refusal);
                }
            }
            else if (RuntimeInformation.IsOSPlatform(OSPlatform.Linux))
            {
                mark.m_socket = socket(AfUnix, SockStream | SockCloexec, 0);
                if (mark.m_socket < 0) throw new InvalidOperationException(Refusal);
                // sockaddr_un: the family, then the path; a zero first byte makes it abstract.
                byte* address = stackalloc byte[2 + 108];
                for (int i = 0; i < 110; ++i) address[i] = 0;
                address[0] = AfUnix;
                string name = Name;
                for (int i = 0; i < name.Length; ++i) address[3 + i] = (byte)name[i];
                if (bind(mark.m_socket, address, (uint)(2 + 1 + name.Length)) != 0)
                {
                    int error = Marshal.GetLastWin32Error();
                    mark.Dispose();
                    throw new InvalidOperationException(error == EAddrInUse ? Refusal : $"{Refusal} (bind failed: errno {error})");
                }
            }
            else
            {
                if (Interlocked.Exchange(ref s_moduleMark, 1) != 0) throw new InvalidOperationException(Refusal);
                mark.m_moduleMark = true;
            }
            return mark;
        }

        public void Dispose()
        {
            if (m_event != IntPtr.Zero) CloseHandle(m_event);
            if (m_socket >= 0) close(m_socket);
            if (m_moduleMark) Volatile.Write(ref s_moduleMark, 0);
            m_event = IntPtr.Zero;
            m_socket = -1;
            m_moduleMark = false;
        }

#if NET
        [LibraryImport("kernel32", SetLastError = true)] private static partial IntPtr CreateEventW(IntPtr attributes, int manualReset, int initialState, char* name);
        [LibraryImport("kernel32")] private static partial int CloseHandle(IntPtr handle);
        [LibraryImport("libc", SetLastError = true)] private static partial int socket(int domain, int type, int protocol);
        [LibraryImport("libc", SetLastError = true)] private static partial int bind(int socket, byte* address, uint length);
        [LibraryImport("libc")] private static partial int close(int fd);
#else
        [DllImport("kernel32", SetLastError = true)] private static extern IntPtr CreateEventW(IntPtr attributes, int manualReset, int initialState, char* name);
        [DllImport("kernel32")] private static extern int CloseHandle(IntPtr handle);
        [DllImport("libc", SetLastError = true)] private static extern int socket(int domain, int type, int protocol);
        [DllImport("libc", SetLastError = true)] private static extern int bind(int socket, byte* address, uint length);
        [DllImport("libc")] private static extern int close(int fd);
#endif
    }
}
