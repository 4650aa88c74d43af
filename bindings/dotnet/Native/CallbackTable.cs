using System;
using System.Runtime.InteropServices;

namespace PTabletSettings.Native
{
    // Owns the callback table the library holds the address of: unmanaged
    // memory (the garbage collector never moves it) and the delegates its
    // pointers lead to. Dispose it only after PevraNUV_Shutdown has returned.
    internal sealed class CallbackTable : IDisposable
    {
        // Kept only to keep the delegates alive; the library reads Address.
        private readonly PevraNUV_Callbacks m_callbacks;

        internal CallbackTable(PevraNUV_Callbacks callbacks)
        {
            m_callbacks = callbacks;
            Address = Marshal.AllocHGlobal(Marshal.SizeOf(typeof(PevraNUV_Callbacks)));
            Marshal.StructureToPtr(m_callbacks, Address, false);
        }

        internal IntPtr Address { get; private set; }

        public void Dispose()
        {
            if (Address == IntPtr.Zero) return;
            Marshal.FreeHGlobal(Address);
            Address = IntPtr.Zero;
        }
    }
}
