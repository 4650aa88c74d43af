// What the binding's tests share: a reference service process, a recorder
// of every event of a TabletSettings, a context that records its thread.
using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Threading;
using PTabletSettings;

// pevra-settings-service with a values file, controlled through its standard
// input; in this test's POSIX session (setsid), so its pipes are this test's.
sealed class Service : IDisposable
{
    readonly Process m_process;
    bool m_ended;

    public Service(string values, string options = "")
    {
        string file = Path.Combine(Tests.Work, $"values-{Guid.NewGuid():N}.json");
        File.WriteAllText(file, "{" + values + "}");
        m_process = Tests.Start(Tests.ServicePath, $"--stdin-control --values {file} {options}");
        m_process.StandardInput.AutoFlush = true;
        Tests.Check(m_process.StandardOutput.ReadLine() == "ready", "the service printed ready");
    }

    public void Control(params string[] lines) => m_process.StandardInput.Write(string.Join("\n", lines) + "\n");

    // Twice is once: a test may end the service before its using does.
    public void Dispose()
    {
        if (m_ended) return;
        m_ended = true;
        Control("quit");
        if (!m_process.WaitForExit(10000)) m_process.Kill();
        m_process.Dispose();
    }
}

// Every event of a TabletSettings as (name, value, thread), subscribed
// through reflection so that no event is left out.
sealed class Recorder
{
    public sealed class Event { public string Name; public object Value; public int Thread; }

    readonly List<Event> m_events = new List<Event>();

    public Recorder(TabletSettings tablet)
    {
        foreach (var info in typeof(TabletSettings).GetEvents())
        {
            string name = info.Name;
            EventHandler<EventArgs> record = (sender, args) => Add(name, args);
            info.AddEventHandler(tablet, Delegate.CreateDelegate(info.EventHandlerType, record.Target, record.Method));
        }
    }

    void Add(string name, EventArgs args)
    {
        object value = args.GetType().GetProperty("Value")?.GetValue(args) ?? args;
        lock (m_events)
        {
            m_events.Add(new Event { Name = name, Value = value, Thread = Thread.CurrentThread.ManagedThreadId });
            Monitor.PulseAll(m_events);
        }
    }

    public Event[] Events { get { lock (m_events) return m_events.ToArray(); } }

    // The first event of that name whose value matches, waiting up to seconds for it.
    public T Wait<T>(string name, Func<T, bool> match, int seconds = 10)
    {
        var end = DateTime.UtcNow.AddSeconds(seconds);
        lock (m_events)
        {
            for (;;)
            {
                var found = m_events.FirstOrDefault(e => e.Name == name && e.Value is T && match((T)e.Value));
                if (found != null) return (T)found.Value;
                var left = end - DateTime.UtcNow;
                Tests.Check(left > TimeSpan.Zero, $"{name} arrived with the expected value; it arrived as " +
                    string.Join(", ", m_events.Where(e => e.Name == name).Select(e => e.Value)));
                Monitor.Wait(m_events, left);
            }
        }
    }
}

// A UI thread's stand-in: runs what is posted on one thread of its own.
sealed class RecordingContext : SynchronizationContext, IDisposable
{
    readonly BlockingCollection<Action> m_work = new BlockingCollection<Action>();
    readonly Thread m_thread;

    public RecordingContext()
    {
        (m_thread = new Thread(() => { foreach (var work in m_work.GetConsumingEnumerable()) work(); })).Start();
    }

    public int ThreadId => m_thread.ManagedThreadId;
    public override void Post(SendOrPostCallback callback, object state) => m_work.Add(() => callback(state));
    public void Dispose()
    {
        m_work.CompleteAdding();
        m_thread.Join();
    }
}
