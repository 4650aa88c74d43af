using System;
using System.Runtime.InteropServices;
using System.Threading;

namespace PTabletSettings.Native
{
    // What a TabletSettings holds of the process: the session mark and the
    // context the library hands back to the callbacks (a weak handle, so
    // that a TabletSettings nobody holds can be collected and its finalizer
    // can close the link). Closing shuts the library down, then lets go of
    // both; it never throws, and a second close does nothing.
    internal sealed class Link
    {
        // The open link, for the process's exit: a program that ends without
        // Dispose still shuts the library down (its thread stops, its pipes close).
        private static Link? s_open;

        private readonly SessionMark m_mark;
        private GCHandle m_context;
        private int m_closed;

        static Link()
        {
            AppDomain.CurrentDomain.ProcessExit += (sender, args) => Volatile.Read(ref s_open)?.Close();
        }

        /// <exception cref="InvalidOperationException">Another session of this process holds the mark.</exception>
        internal Link(TabletSettings owner)
        {
            m_mark = SessionMark.Take();
            m_context = GCHandle.Alloc(owner, GCHandleType.Weak);
            Volatile.Write(ref s_open, this);
        }

        internal IntPtr Context => GCHandle.ToIntPtr(m_context);

        internal void Close()
        {
            if (Interlocked.Exchange(ref m_closed, 1) != 0) return;
            try
            {
                NativeMethods.PevraNUV_Shutdown();
            }
            catch (Exception)
            {
                // Nothing to shut down: the library never loaded.
            }
            // The library calls nobody any more: the handle may go.
            m_context.Free();
            m_mark.Dispose();
            Interlocked.CompareExchange(ref s_open, null, this);
        }
    }
}
