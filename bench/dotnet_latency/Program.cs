// The .NET binding on CoreCLR beside the native library, in one run: ROUNDS
// rounds of the native host (ptsa_push_latency, native.cpp) and this process
// through the binding, each going first in turn, each against a bench service
// of its own, in the same phases: a tenth of PACED version pushes to warm up,
// PACED pushes GAP microseconds apart, each carrying its send time (the
// push-to-event latency), then FLOOD pushes back to back (pushes a second
// until the last one's event; the binding coalesces the values of a setting
// that pile up, so it raises fewer events than pushes, and the count is
// printed). Also the bytes allocated (GC.GetTotalAllocatedBytes) per event
// raised while paced and per push in the flood. Prints each round, then the
// medians and the median of the rounds' .NET/native ratios.
//   dotnet_latency BENCH-SERVICE NATIVE-BENCH [ROUNDS=5] [PACED=2000] [GAP=500] [FLOOD=50000]   (in a POSIX session of its own)
using System.Diagnostics;
using System.Runtime.InteropServices;
using PTabletSettings;

// The bench service stamps the steady clock (CLOCK_MONOTONIC) in nanoseconds;
// on Linux the stopwatch reads that clock at that frequency.
if (Stopwatch.Frequency != 1_000_000_000 || !OperatingSystem.IsLinux())
{
    Console.Error.WriteLine("this benchmark needs Linux, where the stopwatch reads the steady clock in nanoseconds");
    return 1;
}
const long Modulo = 1_000_000_000_000_000;
const string Key = @"ComponentsDriver\\ServiceVersion";
string benchService = args[0], nativeBench = args[1];
int Arg(int i, int otherwise) => args.Length > i ? int.Parse(args[i]) : otherwise;
int rounds = Arg(2, 5), paced = Arg(3, 2000), gap = Arg(4, 500), flood = Arg(5, 50000);

// median us, p99 us, pushes/s in the flood
double[] Native()
{
    var native = Process.Start(new ProcessStartInfo(nativeBench, $"{benchService} {paced} {gap} {flood}") { RedirectStandardOutput = true })!;
    string[] figures = native.StandardOutput.ReadToEnd().Trim().Split(' ');
    native.WaitForExit();
    if (native.ExitCode != 0 || figures.Length != 6 || figures[0] != "native" || figures[4] != $"{paced}" || figures[5] != $"{flood}")
        throw new Exception($"the native benchmark failed (exit {native.ExitCode}): {string.Join(' ', figures)}");
    return figures[1..4].Select(double.Parse).ToArray();
}

var arrived = new long[Math.Max(paced, flood)];
var stamped = new long[arrived.Length];
int count = 0;

// median us, p99 us, pushes/s in the flood, events paced, events in the flood, bytes per paced event, bytes per flood push
double[] Dotnet()
{
    using var service = Process.Start(new ProcessStartInfo(benchService) { RedirectStandardInput = true, RedirectStandardOutput = true })!;
    service.StandardInput.AutoFlush = true;
    if (service.StandardOutput.ReadLine() != "ready") throw new Exception("the bench service did not start");
    using var handshake = new ManualResetEventSlim();
    using var tablet = new TabletSettings();
    tablet.SlavedDisplayZoomChanged += (s, e) => handshake.Set();
    tablet.VersionsChanged += (s, e) =>
    {
        long now = Stopwatch.GetTimestamp() % Modulo;
        // The handshake's version text is no stamp.
        if (!long.TryParse(e.Value.Service, out long stamp) || count == arrived.Length) return;
        arrived[count] = now;
        stamped[count] = stamp;
        Volatile.Write(ref count, count + 1);
    };
    if (tablet.Open() != ConnectResult.Connected || !handshake.Wait(10000)) throw new Exception("no link");

    // Sends the stamps and waits until all arrived or none came for a second;
    // the events raised and the bytes allocated meanwhile.
    (int Events, long Bytes) Phase(int pushes, int gapMicroseconds)
    {
        Volatile.Write(ref count, 0);
        long bytes = GC.GetTotalAllocatedBytes(true);
        service.StandardInput.WriteLine($"stamp {pushes} {gapMicroseconds} {Key}");
        for (var quiet = Stopwatch.StartNew(); quiet.ElapsedMilliseconds < 1000 && Volatile.Read(ref count) != pushes;)
        {
            int seen = Volatile.Read(ref count);
            Thread.Sleep(5);
            if (Volatile.Read(ref count) != seen) quiet.Restart();
        }
        return (Volatile.Read(ref count), GC.GetTotalAllocatedBytes(true) - bytes);
    }

    Phase(paced / 10, gap);
    var (pacedEvents, pacedBytes) = Phase(paced, gap);
    var latencies = Enumerable.Range(0, pacedEvents).Select(i => (arrived[i] - stamped[i] + Modulo) % Modulo / 1000.0).ToArray();
    long start = Stopwatch.GetTimestamp() % Modulo;
    var (floodEvents, floodBytes) = Phase(flood, 0);
    // The binding drops no newest value: the last push is the last event.
    if (floodEvents == 0 || stamped[..floodEvents].Max() != stamped[floodEvents - 1]) throw new Exception("the flood's last value was not raised last");
    double seconds = (arrived[floodEvents - 1] - start + Modulo) % Modulo / 1e9;
    service.StandardInput.Close();
    return [Percentile(latencies, 0.5), Percentile(latencies, 0.99), flood / seconds, pacedEvents, floodEvents,
            (double)pacedBytes / pacedEvents, (double)floodBytes / flood];
}

static double Percentile(IEnumerable<double> values, double share)
{
    var sorted = values.OrderBy(v => v).ToArray();
    return sorted.Length == 0 ? double.NaN : sorted[Math.Min(sorted.Length - 1, (int)(sorted.Length * share))];
}

Console.WriteLine($"{RuntimeInformation.FrameworkDescription} on {RuntimeInformation.OSDescription} {RuntimeInformation.ProcessArchitecture}, " +
    $"{Environment.ProcessorCount} CPUs; {rounds} rounds: {paced / 10} pushes to warm up, {paced} pushes {gap} us apart, a flood of {flood}");
var natives = new List<double[]>();
var dotnets = new List<double[]>();
for (int round = 0; round < rounds; ++round)
{
    if (round % 2 == 0) natives.Add(Native());
    dotnets.Add(Dotnet());
    if (round % 2 == 1) natives.Add(Native());
    double[] n = natives[^1], d = dotnets[^1];
    Console.WriteLine($"round {round + 1}: latency median native {n[0]:F1} us, .NET {d[0]:F1} us; p99 native {n[1]:F1} us, .NET {d[1]:F1} us; " +
        $"flood native {n[2]:F0}/s, .NET {d[2]:F0}/s ({d[4]} events); .NET paced events {d[3]} of {paced}");
}

double Median(IEnumerable<double> values) => Percentile(values, 0.5);
void Row(string what, int i, string unit, string format) =>
    Console.WriteLine($"{what,-26} native {Median(natives.Select(n => n[i])).ToString(format),9} {unit}   .NET {Median(dotnets.Select(d => d[i])).ToString(format),9} {unit}" +
        $"   .NET/native {Median(dotnets.Select(d => d[i])) / Median(natives.Select(n => n[i])):F2} (paired {Median(natives.Zip(dotnets, (n, d) => d[i] / n[i])):F2})");
Console.WriteLine("medians of the rounds:");
Row("push to event, median", 0, "us", "F1");
Row("push to event, p99", 1, "us", "F1");
Row("flood, pushes a second", 2, "/s", "F0");
Console.WriteLine($"{"flood, events raised",-26} .NET {Median(dotnets.Select(d => d[4])):F0} for {flood} pushes (the newest value of a setting replaces a pending one)");
Console.WriteLine($"{"allocated",-26} .NET {Median(dotnets.Select(d => d[5])):F0} bytes per event (paced), {Median(dotnets.Select(d => d[6])):F0} bytes per push (flood)");
return 0;
