using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Diagnostics;
using System.Runtime.ExceptionServices;
using System.Threading;

namespace PTabletSettings
{
    // Where events are raised: on the captured context (a UI thread), one at
    // a time. Post runs on the library's thread with its lock held, so it
    // only records and never waits.
    //
    // A flood of values must not bury the UI thread: what is pending is kept
    // once per key (a slot and an index: each wedge, each pen, each list),
    // the newest value in the place of the key's first, and raised in batches
    // of bounded size and time, each batch a work item of its own, so that
    // other work on the context (a click) runs between two of them.
    internal sealed class EventPump : IDisposable
    {
        private const int BatchEvents = 64;
        private static readonly long BatchTicks = Stopwatch.Frequency / 100; // 10 ms

        private readonly SynchronizationContext m_context;
        private readonly ThreadContext? m_ownThread;
        private readonly LinkedList<KeyValuePair<long, Action>> m_order = new LinkedList<KeyValuePair<long, Action>>();
        private readonly Dictionary<long, LinkedListNode<KeyValuePair<long, Action>>> m_pending =
            new Dictionary<long, LinkedListNode<KeyValuePair<long, Action>>>();
        private bool m_draining;

        // The captured context when there is one, else a thread of the pump's own.
        internal EventPump(SynchronizationContext? context)
        {
            m_context = context ?? (m_ownThread = new ThreadContext());
        }

        internal void Post(long key, Action raise)
        {
            lock (m_order)
            {
                if (m_pending.TryGetValue(key, out var node)) node.Value = new KeyValuePair<long, Action>(key, raise);
                else m_pending.Add(key, m_order.AddLast(new KeyValuePair<long, Action>(key, raise)));
                if (m_draining) return;
                m_draining = true;
            }
            PostDrain();
        }

        // Throws on the context, where its own handler of unhandled exceptions
        // (WPF's DispatcherUnhandledException) sees it, with its stack.
        internal void Rethrow(Exception exception)
        {
            var thrown = ExceptionDispatchInfo.Capture(exception);
            try
            {
                m_context.Post(state => ((ExceptionDispatchInfo)state!).Throw(), thrown);
            }
            catch (Exception)
            {
                // The context is gone (the pump's own thread after Dispose): nobody is left to tell.
            }
        }

        private void PostDrain()
        {
            try
            {
                m_context.Post(pump => ((EventPump)pump!).Drain(), this);
            }
            catch (Exception)
            {
                // A context that refuses work (its dispatcher has shut down):
                // the next value tries again.
                lock (m_order) m_draining = false;
            }
        }

        private void Drain()
        {
            long start = Stopwatch.GetTimestamp();
            for (int raised = 0; ; ++raised)
            {
                Action raise;
                lock (m_order)
                {
                    if (m_order.Count == 0)
                    {
                        m_draining = false;
                        return;
                    }
                    if (raised == BatchEvents || Stopwatch.GetTimestamp() - start > BatchTicks) break;
                    raise = m_order.First!.Value.Value;
                    m_pending.Remove(m_order.First.Value.Key);
                    m_order.RemoveFirst();
                }
                raise();
            }
            // More is pending: behind whatever else the context was given meanwhile.
            PostDrain();
        }

        // What is still pending is raised by the drain already posted; the
        // owner skips it once disposed. The pump's own thread ends after it.
        public void Dispose() => m_ownThread?.Dispose();

        // Without a captured context: one background thread runs what is posted, in order.
        private sealed class ThreadContext : SynchronizationContext, IDisposable
        {
            private readonly BlockingCollection<KeyValuePair<SendOrPostCallback, object?>> m_work =
                new BlockingCollection<KeyValuePair<SendOrPostCallback, object?>>();

            internal ThreadContext()
            {
                new Thread(Run) { IsBackground = true, Name = "PTabletSettings events" }.Start();
            }

            public override void Post(SendOrPostCallback callback, object? state) =>
                m_work.Add(new KeyValuePair<SendOrPostCallback, object?>(callback, state));

            public void Dispose() => m_work.CompleteAdding();

            private void Run()
            {
                SetSynchronizationContext(this);
                foreach (var work in m_work.GetConsumingEnumerable()) work.Key(work.Value);
            }
        }
    }
}
