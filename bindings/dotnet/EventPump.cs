using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Threading;

namespace PTabletSettings
{
    // Where events are raised: one at a time, in the order they were posted.
    // Post is called on the library's thread with its lock held, so it only
    // queues and never waits.
    internal abstract class EventPump : IDisposable
    {
        // The captured context when there is one (a UI thread), else a thread of the pump's own.
        internal static EventPump For(SynchronizationContext context) =>
            context != null ? new ContextPump(context) : (EventPump)new ThreadPump();

        internal abstract void Post(Action raise);

        public abstract void Dispose();
    }

    // Queues here and posts one drain at a time to the context: a context
    // that runs posts in parallel or out of order (the thread pool's) still
    // sees the events one by one, in order.
    internal sealed class ContextPump : EventPump
    {
        private readonly SynchronizationContext m_context;
        private readonly Queue<Action> m_queue = new Queue<Action>();
        private bool m_draining;

        internal ContextPump(SynchronizationContext context)
        {
            m_context = context;
        }

        internal override void Post(Action raise)
        {
            lock (m_queue)
            {
                m_queue.Enqueue(raise);
                if (m_draining) return;
                m_draining = true;
            }
            try
            {
                m_context.Post(pump => ((ContextPump)pump).Drain(), this);
            }
            catch
            {
                // A context that refuses work (its dispatcher has shut down):
                // the next value tries again.
                lock (m_queue) m_draining = false;
                throw;
            }
        }

        private void Drain()
        {
            for (;;)
            {
                Action raise;
                lock (m_queue)
                {
                    if (m_queue.Count == 0)
                    {
                        m_draining = false;
                        return;
                    }
                    raise = m_queue.Dequeue();
                }
                raise();
            }
        }

        // What is still queued is raised by the drain already posted; the
        // owner skips it once disposed.
        public override void Dispose()
        {
        }
    }

    // A background thread of its own drains the queue; disposing ends it
    // after what is queued (also when called on that thread, from a handler).
    internal sealed class ThreadPump : EventPump
    {
        private readonly BlockingCollection<Action> m_queue = new BlockingCollection<Action>();

        internal ThreadPump()
        {
            new Thread(Run) { IsBackground = true, Name = "PTabletSettings events" }.Start();
        }

        internal override void Post(Action raise) => m_queue.Add(raise);

        public override void Dispose() => m_queue.CompleteAdding();

        private void Run()
        {
            using (m_queue)
            {
                foreach (Action raise in m_queue.GetConsumingEnumerable()) raise();
            }
        }
    }
}
