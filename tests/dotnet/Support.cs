// What the tests share: a reference service, a recorder of every event, a UI thread's stand-in.
using System.Collections.Concurrent;
using System.Diagnostics;
using PTabletSettings;
using Xunit;

// One session per process: no two tests at once.
[assembly: CollectionBehavior(DisableTestParallelization = true)]

static class Env
{
    // Set by CMake (tests/dotnet/CMakeLists.txt).
    public static readonly string Service = Environment.GetEnvironmentVariable("PTSA_SERVICE")!,
        Cli = Environment.GetEnvironmentVariable("PTSA_CLI")!, Work = Environment.GetEnvironmentVariable("PTSA_WORK")!;

    public static string Key(string key, string value) => $"\"ComponentsDriver\\\\{key}\": \"{value}\"";
    public const string Tilt = @"PenHandler\\PenTransducer\\TiltSensitivity";
    public static readonly string Values = string.Join(",", Key("ServiceVersion", "9.8.7-net"), Key("HIDRouterVersion", "6.5.4-net"),
        Key(Tilt, "3"), Key("SlavedDisplayZoomMap", "{1,2,3,4}"));

    public static Process Start(string program, string arguments, IDictionary<string, string?>? environment = null)
    {
        var info = new ProcessStartInfo(program, arguments)
            { UseShellExecute = false, RedirectStandardInput = true, RedirectStandardOutput = true, RedirectStandardError = true };
        foreach (var variable in environment ?? new Dictionary<string, string?>()) info.Environment[variable.Key] = variable.Value;
        return Process.Start(info)!;
    }
}

// pevra-settings-service with a values file, controlled through its standard
// input; in the tests' POSIX session (setsid), so its pipes are the tests'.
sealed class Service : IDisposable
{
    readonly Process m_process;
    readonly BlockingCollection<string> m_errors = new BlockingCollection<string>();

    public Service(string values, string options = "")
    {
        string file = Path.Combine(Env.Work, $"values-{Guid.NewGuid():N}.json");
        File.WriteAllText(file, "{" + values + "}");
        m_process = Env.Start(Env.Service, $"--stdin-control --values {file} {options}");
        m_process.StandardInput.AutoFlush = true;
        m_process.ErrorDataReceived += (sender, line) => { if (line.Data != null) m_errors.Add(line.Data); };
        m_process.BeginErrorReadLine();
        Assert.Equal("ready", m_process.StandardOutput.ReadLine());
    }

    public void Control(params string[] lines) => m_process.StandardInput.Write(string.Join("\n", lines) + "\n");

    // The next line of the service's error output that holds text, waiting up to 10 s.
    public bool Said(string text)
    {
        while (m_errors.TryTake(out var line, TimeSpan.FromSeconds(10))) if (line.Contains(text)) return true;
        return false;
    }

    // Twice is once: a test may end the service before its using does.
    public void Dispose()
    {
        if (m_process.HasExited) return;
        Control("quit");
        if (!m_process.WaitForExit(10000)) m_process.Kill();
    }
}

// Every event of a TabletSettings as (name, value, thread), subscribed
// through reflection so that no event is left out.
sealed class Recorder
{
    public sealed record Event(string Name, object Value, int Thread);

    readonly List<Event> m_events = new List<Event>();

    public Recorder(TabletSettings tablet)
    {
        foreach (var info in typeof(TabletSettings).GetEvents().Where(e => e.Name != nameof(TabletSettings.UnhandledException)))
        {
            string name = info.Name;
            EventHandler<EventArgs> record = (sender, args) => Add(name, args);
            info.AddEventHandler(tablet, Delegate.CreateDelegate(info.EventHandlerType!, record.Target, record.Method));
        }
    }

    public void Add(string name, EventArgs args)
    {
        object value = args.GetType().GetProperty("Value")?.GetValue(args) ?? args;
        lock (m_events) m_events.Add(new Event(name, value, Environment.CurrentManagedThreadId));
    }

    public Event[] Events { get { lock (m_events) return m_events.ToArray(); } }

    // The first event of that name whose value matches, waiting up to seconds for it.
    public T Wait<T>(string name, Func<T, bool> match, int seconds = 10)
    {
        object? found = null;
        SpinWait.SpinUntil(() => (found = Events.FirstOrDefault(e => e.Name == name && e.Value is T value && match(value))?.Value) != null,
                           seconds * 1000);
        Assert.True(found != null, $"{name} did not arrive with the expected value; it arrived as " +
            string.Join(", ", Events.Where(e => e.Name == name).Select(e => e.Value)));
        return (T)found!;
    }
}

// A UI thread's stand-in: runs what is posted on one thread of its own, and
// keeps what a work item throws (a dispatcher's unhandled-exception event).
sealed class RecordingContext : SynchronizationContext, IDisposable
{
    readonly BlockingCollection<Action> m_work = new BlockingCollection<Action>();
    readonly Thread m_thread;
    public readonly BlockingCollection<Exception> Thrown = new BlockingCollection<Exception>();

    public RecordingContext()
    {
        m_thread = new Thread(() =>
        {
            foreach (var work in m_work.GetConsumingEnumerable())
                try { work(); } catch (Exception e) { Thrown.Add(e); }
        });
        m_thread.Start();
    }

    public int ThreadId => m_thread.ManagedThreadId;
    public override void Post(SendOrPostCallback callback, object? state) => m_work.Add(() => callback(state));
    public void Dispose()
    {
        m_work.CompleteAdding();
        m_thread.Join();
    }

    // A TabletSettings made on this context (a test thread has none of its own).
    public TabletSettings Create()
    {
        SetSynchronizationContext(this);
        try { return new TabletSettings(); } finally { SetSynchronizationContext(null); }
    }
}
