// The .NET binding against the native library and a reference service in
// this test's POSIX session. Prints one line per case and "N passed, N failed".
//   mono BindingTests.exe SERVICE CLI WORK-DIR MONO EXAMPLE
using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using PTabletSettings;

static class Tests
{
    public static string ServicePath, CliPath, Work, MonoPath, ExamplePath;

    static string Key(string key, string value) => $"\"ComponentsDriver\\\\{key}\": \"{value}\"";
    const string Tilt = @"PenHandler\\PenTransducer\\TiltSensitivity";
    static readonly string Values = string.Join(",", Key("ServiceVersion", "9.8.7-net"), Key("HIDRouterVersion", "6.5.4-net"),
        Key(Tilt, "3"), Key("SlavedDisplayZoomMap", "{1,2,3,4}"));

    public static void Check(bool ok, string what) { if (!ok) throw new Exception("expected: " + what); }

    static bool Throws<E>(Action action) where E : Exception { try { action(); return false; } catch (E) { return true; } }

    public static Process Start(string program, string arguments) => Process.Start(new ProcessStartInfo(program, arguments)
        { UseShellExecute = false, RedirectStandardInput = true, RedirectStandardOutput = true });

    static void WithLink(string values, Action<TabletSettings, Recorder, Service> test, string options = "")
    {
        using (var service = new Service(values, options))
        using (var tablet = new TabletSettings())
        {
            var events = new Recorder(tablet);
            Check(tablet.Open() == ConnectResult.Connected, "Open connects");
            test(tablet, events, service);
        }
    }

    static void HandshakeValuesArriveAsManagedValues() => WithLink(Values, (t, e, s) =>
    {
        e.Wait<Versions>("VersionsChanged", v => v.Service == "9.8.7-net" && v.HidRouter == "6.5.4-net");
        e.Wait<int>("TiltSensitivityChanged", v => v == 3);
        e.Wait<ZoomMap>("SlavedDisplayZoomChanged", z => z.ToString() == "{1,2,3,4}");
        e.Wait<PenInfo>("PenInfoChanged", p => p.SerialNumber == "QRE-0012345" && p.PenId == "PEN-7F3A21" && p.BatteryStatus == 85);
        e.Wait<ButtonFunction>("EraserDoublePressChanged", f => f.Equals(ButtonFunction.RunApplication(@"C:\Windows\System32\notepad.exe")));
        e.Wait<SideSwitch>("TopSwitchChanged", w => w.Press.Code == 2 && w.HoverClick);
        e.Wait<WedgeEventArgs>("MenuOpChanged", w => w.Wedges.Count == 10 && w.Wedges[(int)Wedge.West].Equals(
            ButtonFunction.RunApplication(@"C:\Windows\System32\calc.exe")) && w.Wedges[0].Equals(ButtonFunction.Keystrokes("Ctrl+C")));
        e.Wait<IReadOnlyList<ButtonFunction>>("RunAppOptionsArrived", o => o.Count == 3 && o.All(f => f.Code == 88));
        e.Wait<IReadOnlyList<ButtonFunction>>("TopButtonLongOptionsArrived", o => string.Join(",", o.Select(f => f.Code)) == "0,8,23");
        e.Wait<int>("WedgeCountReported", n => n == 10);
        e.Wait<SettingRange>("RangeAReported", r => r.Low == 0 && r.High == 6);
        e.Wait<SettingRange>("RangeBReported", r => r.Low == -90 && r.High == 90);
    });

    static void Road<T>(Recorder e, Action set, string name, Func<T, bool> ok) { set(); e.Wait(name, ok); }

    // Each setter, then the event its answer arrives as. The library reads
    // back an application's path, but not keystrokes: their code is compared.
    static void EverySetterEndsInItsEvent() => WithLink(Values, (t, e, s) =>
    {
        var keys = ButtonFunction.Keystrokes("Ctrl+S");
        var app = ButtonFunction.RunApplication("/usr/bin/env");
        var code = new ButtonFunction(4);
        Road(e, () => t.SetEraserSinglePress(app), "EraserSinglePressChanged", (ButtonFunction f) => f.Equals(app));
        Road(e, () => t.SetEraserDoublePress(keys), "EraserDoublePressChanged", (ButtonFunction f) => f.Code == keys.Code);
        Road(e, () => t.SetEraserLongPress(code), "EraserLongPressChanged", (ButtonFunction f) => f.Equals(code));
        Road(e, () => t.SetTopSinglePress(keys), "TopSwitchChanged", (SideSwitch w) => w.Press.Code == keys.Code);
        Road(e, () => t.SetTopHoverClick(false), "TopSwitchChanged", (SideSwitch w) => !w.HoverClick);
        Road(e, () => t.SetBottomSinglePress(app), "BottomSwitchChanged", (SideSwitch w) => w.Press.Equals(app));
        Road(e, () => t.SetBottomHoverClick(true), "BottomSwitchChanged", (SideSwitch w) => w.HoverClick);
        Road(e, () => t.SetMenuOp(Wedge.Outside, keys), "MenuOpChanged", (WedgeEventArgs w) => w.Changed == Wedge.Outside && w.Wedges[9].Code == keys.Code);
        Road(e, () => t.SetTipSensitivity(5), "TipSensitivityChanged", (int v) => v == 5);
        Road(e, () => t.SetTiltSensitivity(44), "TiltSensitivityChanged", (int v) => v == 44);
        Road(e, () => t.SetSlavedDisplayZoom(new ZoomMap(5, 6, 7, -8)), "SlavedDisplayZoomChanged", (ZoomMap z) => z.ToString() == "{5,6,7,-8}");
        Road(e, () => t.ResetZoom(), "SlavedDisplayZoomChanged", (ZoomMap z) => z.ToString() == "{0,0,0,0}");
    });

    static void PushesAndKeyCapture() => WithLink(Values, (t, e, s) =>
    {
        using (var cli = Start(CliPath, "set tilt 17"))
            Check(cli.WaitForExit(20000) && cli.ExitCode == 0, "ptsa-cli set tilt 17 succeeds");
        e.Wait<int>("TiltSensitivityChanged", v => v == 17);
        // The service's sleep keeps the keys behind the start of the capture.
        var keys = t.CaptureKeystrokesAsync(TimeSpan.FromSeconds(3));
        s.Control("sleep 300", "key Ctrl+", "key Alt+K");
        Check(keys.Result == "Ctrl+Alt+K", $"the captured keys, not \"{keys.Result}\"");
        using (var cancel = new CancellationTokenSource(TimeSpan.FromSeconds(1)))
        {
            var clock = Stopwatch.StartNew();
            keys = t.CaptureKeystrokesAsync(TimeSpan.FromMinutes(5), cancel.Token);
            s.Control("sleep 300", "key Shift+Q");
            Check(keys.Result == "Shift+Q" && clock.Elapsed < TimeSpan.FromSeconds(30), "a cancelled capture returns its keys early");
        }
    });

    static void TheSameObjectOutlivesAServiceRestart() => WithLink(Values, (t, e, s) =>
    {
        e.Wait<int>("TiltSensitivityChanged", v => v == 3);
        s.Dispose();
        Check(!t.IsServiceAvailable, "no service after it quit");
        using (new Service(Key("ServiceVersion", "2.0-second") + "," + Key(Tilt, "9")))
        {
            e.Wait<Versions>("VersionsChanged", v => v.Service == "2.0-second", 30);
            e.Wait<int>("TiltSensitivityChanged", v => v == 9);
            Check(t.IsServiceAvailable, "the service is available again");
        }
    });

    // Setters on four threads while Dispose runs; then Dispose again (the
    // using) and a use after it. Every later case opens a new TabletSettings.
    static void DisposeAmongSettersAndAfter()
    {
        using (new Service(Values))
        using (var tablet = new TabletSettings())
        {
            Check(Throws<InvalidOperationException>(() => new TabletSettings()), "a second TabletSettings is refused");
            Check(tablet.Open() == ConnectResult.Connected, "Open connects");
            var failures = new ConcurrentQueue<Exception>();
            var threads = Enumerable.Range(0, 4).Select(n => new Thread(() =>
            {
                try { for (uint i = 0; ; ++i) { tablet.SetTiltSensitivity(i % 7); tablet.SetMenuOp((Wedge)(i % 10), new ButtonFunction(n)); } }
                catch (ObjectDisposedException) { }
                catch (Exception x) { failures.Enqueue(x); }
            }) { IsBackground = true }).ToList();
            threads.ForEach(thread => thread.Start());
            Thread.Sleep(300);
            tablet.Dispose();
            Check(threads.All(thread => thread.Join(10000)), "the setters' threads ended");
            Check(failures.IsEmpty, "setters end with ObjectDisposedException only: " + string.Join("; ", failures));
            Check(Throws<ObjectDisposedException>(() => tablet.ResetZoom()), "use after Dispose throws");
        }
    }

    static void EventsRunOnTheCapturedContext()
    {
        using (new Service(Values))
        using (var context = new RecordingContext())
        {
            SynchronizationContext.SetSynchronizationContext(context);
            var tablet = new TabletSettings();
            SynchronizationContext.SetSynchronizationContext(null);
            using (tablet)
            {
                var events = new Recorder(tablet);
                tablet.Open();
                tablet.SetTiltSensitivity(12);
                events.Wait<int>("TiltSensitivityChanged", v => v == 12);
                Check(events.Events.Length > 20 && events.Events.All(x => x.Thread == context.ThreadId), "every event on the context's thread");
            }
        }
    }

    // A handler that throws, then one that disposes: neither reaches the library's thread.
    static void HandlersThatThrowOrDispose() => WithLink(Values, (t, e, s) =>
    {
        var disposed = new ManualResetEventSlim();
        t.TiltSensitivityChanged += (sender, args) => { if (args.Value == 31) throw new FormatException("from a handler"); };
        t.TipSensitivityChanged += (sender, args) => { if (args.Value == 6) { t.Dispose(); disposed.Set(); } };
        t.SetTiltSensitivity(31);
        e.Wait<HandlerExceptionEventArgs>("UnhandledException", x => x.Exception is FormatException);
        t.SetTiltSensitivity(32);
        e.Wait<int>("TiltSensitivityChanged", v => v == 32);
        t.SetTipSensitivity(6);
        Check(disposed.Wait(10000) && Throws<ObjectDisposedException>(() => t.SetTipSensitivity(1)), "a handler disposed the link");
    });

    // The battery runs down by one a push (100 after 0) from the file's 85:
    // the pushes, in order, among the events; a lost delegate would crash.
    static void TenThousandPushesAmongGarbageCollections() => WithLink(Values, (t, e, s) =>
    {
        const int pushes = 10000;
        Func<int> Walk = () => e.Events.Where(x => x.Name == "PenInfoChanged").Select(x => ((PenInfo)x.Value).BatteryStatus)
            .Aggregate(new[] { 85, 0 }, (walk, level) => level == (walk[0] + 100) % 101 ? new[] { level, walk[1] + 1 } : walk)[1];
        using (var stop = new CancellationTokenSource())
        {
            var collector = Task.Run(() => { while (!stop.IsCancellationRequested) { GC.Collect(); GC.WaitForPendingFinalizers(); } });
            for (int seen = -1, now; (now = Walk()) != seen && now < pushes; seen = now) Thread.Sleep(2000);
            stop.Cancel();
            collector.Wait();
        }
        Check(Walk() == pushes, $"{pushes} pushes in order, not {Walk()}");
    }, $"--push-rate 5000 --push-count 10000");

    static void TheExampleHostSetsTheTilt()
    {
        using (new Service(Values))
        using (var host = Start(MonoPath, $"{ExamplePath} 21"))
        {
            string output = host.StandardOutput.ReadToEnd();
            Check(host.WaitForExit(20000) && host.ExitCode == 0 && output.Contains("service 9.8.7-net, HID router 6.5.4-net\n") &&
                  output.Contains("tilt sensitivity 21 confirmed\n"), "the example's output:\n" + output);
        }
    }

    static int Main(string[] args)
    {
        ServicePath = args[0]; CliPath = args[1]; Work = args[2]; MonoPath = args[3]; ExamplePath = args[4];
        Action[] cases = { HandshakeValuesArriveAsManagedValues, EverySetterEndsInItsEvent, PushesAndKeyCapture,
            TheSameObjectOutlivesAServiceRestart, DisposeAmongSettersAndAfter, EventsRunOnTheCapturedContext,
            HandlersThatThrowOrDispose, TenThousandPushesAmongGarbageCollections, TheExampleHostSetsTheTilt };
        int passed = 0, failed = 0;
        foreach (var test in cases)
            try { test(); Console.WriteLine($"ok   {test.Method.Name}"); passed++; }
            catch (Exception e) { Console.WriteLine($"FAIL {test.Method.Name}: {e}"); failed++; }
        Console.WriteLine($"{passed} passed, {failed} failed");
        return failed == 0 ? 0 : 1;
    }
}
