// A UI thread (a single-thread SynchronizationContext) holds a TabletSettings
// whose pen event handler takes 100 us, like a view that redraws; the
// reference service pushes the pen's battery status RATE times a second for
// SECONDS seconds. Every 10 ms a work item (a click) is posted to the same
// thread; its wait from post to run is measured, first with the link idle
// (the baseline), then under the flood. Prints p50, p99 and max of both.
//   dotnet_flood SERVICE [RATE=5000] [SECONDS=10]     (in a POSIX session of its own)
using System.Collections.Concurrent;
using System.Diagnostics;
using PTabletSettings;

string service = args[0];
int rate = args.Length > 1 ? int.Parse(args[1]) : 5000, seconds = args.Length > 2 ? int.Parse(args[2]) : 10;
using var ui = new UiThread();

Process Start(string options)
{
    var process = Process.Start(new ProcessStartInfo(service, "--stdin-control " + options) { RedirectStandardInput = true, RedirectStandardOutput = true })!;
    if (process.StandardOutput.ReadLine() != "ready") throw new Exception("the service did not start");
    return process;
}

// Waits of the clicks posted every 10 ms for the given time, in milliseconds.
double[] Clicks(TimeSpan duration)
{
    var waits = new ConcurrentBag<double>();
    var clock = Stopwatch.StartNew();
    while (clock.Elapsed < duration)
    {
        long posted = Stopwatch.GetTimestamp();
        ui.Post(_ => waits.Add(Stopwatch.GetElapsedTime(posted).TotalMilliseconds), null);
        Thread.Sleep(10);
    }
    Thread.Sleep(500);
    return waits.OrderBy(w => w).ToArray();
}

string Line(string name, double[] waits) =>
    $"{name,-8} clicks {waits.Length,5}   p50 {waits[waits.Length / 2],8:F2} ms   p99 {waits[(int)(waits.Length * 0.99)],8:F2} ms   max {waits[^1],8:F2} ms";

using var idle = Start("");
var tablet = ui.Run(() => new TabletSettings());
int raised = 0;
tablet.PenInfoChanged += (s, e) => { ++raised; var spin = Stopwatch.StartNew(); while (spin.Elapsed.TotalMilliseconds < 0.1) { } };
if (tablet.Open() != ConnectResult.Connected) throw new Exception("no service");
Thread.Sleep(1000);
var baseline = Clicks(TimeSpan.FromSeconds(seconds));
tablet.Dispose();
idle.StandardInput.WriteLine("quit");
idle.WaitForExit();

using var flood = Start($"--push-rate {rate} --push-count {rate * seconds}");
tablet = ui.Run(() => new TabletSettings());
raised = 0;
tablet.PenInfoChanged += (s, e) => { ++raised; var spin = Stopwatch.StartNew(); while (spin.Elapsed.TotalMilliseconds < 0.1) { } };
tablet.Open();
var flooded = Clicks(TimeSpan.FromSeconds(seconds));
tablet.Dispose();
flood.StandardInput.WriteLine("quit");
flood.WaitForExit();

Console.WriteLine($"{rate} pushes a second for {seconds} s, a pen handler of 100 us; {raised} pen events raised for {rate * seconds} pushes");
Console.WriteLine(Line("idle", baseline));
Console.WriteLine(Line("flood", flooded));
Console.WriteLine($"p99 flood / idle: {flooded[(int)(flooded.Length * 0.99)] / Math.Max(baseline[(int)(baseline.Length * 0.99)], 0.001):F1}");

// A UI thread's stand-in: one thread runs what is posted, in order.
sealed class UiThread : SynchronizationContext, IDisposable
{
    readonly BlockingCollection<(SendOrPostCallback, object?)> m_work = new();
    readonly Thread m_thread;

    public UiThread()
    {
        m_thread = new Thread(() => { SetSynchronizationContext(this); foreach (var (work, state) in m_work.GetConsumingEnumerable()) work(state); });
        m_thread.Start();
    }

    public override void Post(SendOrPostCallback work, object? state) => m_work.Add((work, state));

    public T Run<T>(Func<T> work)
    {
        var done = new TaskCompletionSource<T>();
        Post(_ => done.SetResult(work()), null);
        return done.Task.Result;
    }

    public void Dispose()
    {
        m_work.CompleteAdding();
        m_thread.Join();
    }
}
