// A Windows host of the PTabletSettings package for tests/dotnet/windows_host.sh,
// which checks the lines it prints: "module PATH" (the native DLL loaded), then
// each awaited event's line (30 s at most, else "no LINE" and exit 1): the
// handshake's lines, "tilt 21" (a setter confirmed), "tip 5" (sent after the
// capture's start, so the service records from then on), "ptsa-cli 0" and
// "tilt 17" (its change pushed here), "tip 44" (the service's script has typed
// its keys), then "keys TEXT" and "leaving": Main returns without Dispose.
//   windows_host HANDSHAKE-LINES PTSA-CLI     (the handshake's lines comma-separated)
using System.Diagnostics;
using PTabletSettings;

var seen = new List<string>();
void Saw(string line)
{
    lock (seen)
    {
        seen.Add(line);
        Monitor.PulseAll(seen);
    }
}
// An event that came earlier counts.
void Expect(string line)
{
    var clock = Stopwatch.StartNew();
    lock (seen)
        while (!seen.Contains(line))
            if (clock.Elapsed.TotalSeconds < 30) Monitor.Wait(seen, 100);
            else
            {
                Console.WriteLine($"no {line}; seen: {string.Join(" | ", seen)}");
                Environment.Exit(1);
            }
    Console.WriteLine(line);
}

var tablet = new TabletSettings(); // loads the native library
Console.WriteLine("module " + Process.GetCurrentProcess().Modules.Cast<ProcessModule>()
    .Single(m => m.ModuleName.Equals("PTabletSettingsAPI.dll", StringComparison.OrdinalIgnoreCase)).FileName);
tablet.VersionsChanged += (s, e) => Saw($"versions {e.Value.Service} {e.Value.HidRouter}");
tablet.TiltSensitivityChanged += (s, e) => Saw($"tilt {e.Value}");
tablet.TipSensitivityChanged += (s, e) => Saw($"tip {e.Value}");
if (tablet.Open() != ConnectResult.Connected) return 1;
foreach (string line in args[0].Split(',')) Expect(line);
tablet.SetTiltSensitivity(21);
Expect("tilt 21");
using var stop = new CancellationTokenSource();
var keys = tablet.CaptureKeystrokesAsync(TimeSpan.FromMinutes(2), stop.Token);
// Queued behind the capture's start: once confirmed, the start has reached the service.
tablet.SetTipSensitivity(5);
Expect("tip 5");
using (var cli = Process.Start(args[1], "set tilt 17")!)
{
    if (!cli.WaitForExit(60000)) cli.Kill();
    Saw($"ptsa-cli {(cli.HasExited ? cli.ExitCode : -1)}");
}
foreach (string line in new[] { "ptsa-cli 0", "tilt 17", "tip 44" }) Expect(line);
stop.Cancel();
Console.WriteLine("keys " + keys.Result);
Console.WriteLine("leaving");
return 0;
