// The binding against the native library and a reference service, as a host uses it.
using System.Diagnostics;
using PTabletSettings;
using Xunit;

public class LinkTests
{
    internal static void WithLink(string values, Action<TabletSettings, Recorder, Service> test, string options = "")
    {
        using var service = new Service(values, options);
        using var tablet = new TabletSettings();
        var events = new Recorder(tablet);
        Assert.Equal(ConnectResult.Connected, tablet.Open());
        test(tablet, events, service);
    }

    [Fact]
    public void HandshakeValuesArriveAsEventsAndStayAsProperties() => WithLink(Env.Values, (t, e, s) =>
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
        // What a page opened later reads.
        Assert.True(t.IsServiceAvailable);
        Assert.Equal(("9.8.7-net", 3, "{1,2,3,4}", 85), (t.Versions?.Service, t.TiltSensitivity, t.Zoom?.ToString(), t.Pen?.BatteryStatus));
        Assert.Equal(ButtonFunction.RunApplication(@"C:\Windows\System32\calc.exe"), t.Wedges?[(int)Wedge.West]);
        Assert.Equal("0,8,23", string.Join(",", t.TopButtonLongOptions!.Select(f => f.Code)));
    });

    static void Road<T>(Recorder e, Action set, string name, Func<T, bool> ok) { set(); e.Wait(name, ok); }

    // Each setter, then the event its answer arrives as. The library reads
    // back an application's path, but not keystrokes: their code is compared.
    [Fact]
    public void EverySetterEndsInItsEvent() => WithLink(Env.Values, (t, e, s) =>
    {
        var keys = ButtonFunction.Keystrokes("Ctrl+S");
        var app = ButtonFunction.RunApplication("/usr/bin/env");
        var code = new ButtonFunction(4, "a text code 4 does not send");
        Road(e, () => t.SetEraserSinglePress(app), "EraserSinglePressChanged", (ButtonFunction f) => f.Equals(app));
        Road(e, () => t.SetEraserDoublePress(keys), "EraserDoublePressChanged", (ButtonFunction f) => f.Code == keys.Code);
        Road(e, () => t.SetEraserLongPress(code), "EraserLongPressChanged", (ButtonFunction f) => f.Equals(new ButtonFunction(4)));
        Road(e, () => t.SetTopSinglePress(keys), "TopSwitchChanged", (SideSwitch w) => w.Press.Code == keys.Code);
        Road(e, () => t.SetTopHoverClick(false), "TopSwitchChanged", (SideSwitch w) => !w.HoverClick);
        Road(e, () => t.SetBottomSinglePress(app), "BottomSwitchChanged", (SideSwitch w) => w.Press.Equals(app));
        Road(e, () => t.SetBottomHoverClick(true), "BottomSwitchChanged", (SideSwitch w) => w.HoverClick);
        Road(e, () => t.SetMenuOp(Wedge.Outside, keys), "MenuOpChanged", (WedgeEventArgs w) => w.Changed == Wedge.Outside && w.Wedges[9].Code == keys.Code);
        Road(e, () => t.SetTipSensitivity(5), "TipSensitivityChanged", (int v) => v == 5);
        Road(e, () => t.SetTiltSensitivity(int.MaxValue), "TiltSensitivityChanged", (int v) => v == int.MaxValue);
        Road(e, () => t.SetSlavedDisplayZoom(new ZoomMap(5, 6, 7, -8)), "SlavedDisplayZoomChanged", (ZoomMap z) => z.ToString() == "{5,6,7,-8}");
        Road(e, () => t.ResetZoom(), "SlavedDisplayZoomChanged", (ZoomMap z) => z.ToString() == "{0,0,0,0}");
    });

    // The service's trace shows the capture's start and stop.
    internal const string CaptureStarted = "KeystrokeCapture\":\"1\"", CaptureStopped = "KeystrokeCapture\":\"0\"";

    [Fact]
    public void PushesAndKeyCapture() => WithLink(Env.Values, (t, e, s) =>
    {
        using (var cli = Env.Start(Env.Cli, "set tilt 17"))
            Assert.True(cli.WaitForExit(20000) && cli.ExitCode == 0, "ptsa-cli set tilt 17 succeeds");
        e.Wait<int>("TiltSensitivityChanged", v => v == 17);
        var keys = t.CaptureKeystrokesAsync(TimeSpan.FromSeconds(3));
        Assert.True(s.Said(CaptureStarted));
        s.Control("key Ctrl+", "key Alt+K");
        Assert.Equal("Ctrl+Alt+K", keys.Result);
        Assert.True(s.Said(CaptureStopped));
        using var cancel = new CancellationTokenSource();
        var clock = Stopwatch.StartNew();
        keys = t.CaptureKeystrokesAsync(TimeSpan.FromMinutes(5), cancel.Token);
        Assert.True(s.Said(CaptureStarted));
        s.Control("key Shift+Q");
        cancel.CancelAfter(500);
        Assert.Equal("Shift+Q", keys.Result);
        Assert.True(clock.Elapsed < TimeSpan.FromSeconds(30), "a cancelled capture returns early");
        Assert.True(s.Said(CaptureStopped), "a cancelled capture is finished at the service");
        keys = t.CaptureKeystrokesAsync(TimeSpan.FromMinutes(5));
        Assert.True(s.Said(CaptureStarted));
        t.Dispose();
        Assert.True(keys.Wait(5000) && s.Said(CaptureStopped), "Dispose stops a running capture");
    }, "--trace");

    // The availability goes with the service; a setter while it is away
    // throws instead of being lost; the same object carries on after.
    [Fact]
    public void TheSameObjectOutlivesAServiceRestart() => WithLink(Env.Values, (t, e, s) =>
    {
        e.Wait<int>("TiltSensitivityChanged", v => v == 3);
        s.Dispose();
        e.Wait<bool>("AvailabilityChanged", available => !available);
        Assert.Throws<InvalidOperationException>(() => t.SetTiltSensitivity(4));
        using (new Service(Env.Key("ServiceVersion", "2.0-second") + "," + Env.Key(Env.Tilt, "9")))
        {
            e.Wait<Versions>("VersionsChanged", v => v.Service == "2.0-second", 30);
            e.Wait<int>("TiltSensitivityChanged", v => v == 9);
            Assert.True(SpinWait.SpinUntil(() => e.Events.Where(x => x.Name == "AvailabilityChanged").Select(x => (bool)x.Value)
                .SequenceEqual(new[] { true, false, true }), 5000), "available, away, available");
        }
    });

    // Every event on the captured context; a handler that throws goes to
    // UnhandledException when it is observed, else it is thrown again on the
    // context; a handler may dispose.
    [Fact]
    public void HandlersThatThrowOrDispose()
    {
        using var service = new Service(Env.Values);
        using var context = new RecordingContext();
        var t = context.Create();
        var e = new Recorder(t);
        var disposed = new ManualResetEventSlim();
        t.TiltSensitivityChanged += (sender, args) => { if (args.Value == 31) throw new FormatException("from a handler"); };
        t.TipSensitivityChanged += (sender, args) => { if (args.Value == 6) { t.Dispose(); disposed.Set(); } };
        t.Open();
        t.SetTiltSensitivity(31);
        Assert.True(context.Thrown.TryTake(out var thrown, 10000) && thrown is FormatException, "rethrown on the context");
        t.UnhandledException += (sender, args) => e.Add("UnhandledException", args);
        t.SetTiltSensitivity(32);
        t.SetTiltSensitivity(31);
        e.Wait<HandlerExceptionEventArgs>("UnhandledException", x => x.Exception is FormatException);
        Assert.Empty(context.Thrown);
        Assert.True(e.Events.Length > 5 && e.Events.All(x => x.Thread == context.ThreadId), "every event on the context's thread");
        t.SetTipSensitivity(6);
        Assert.True(disposed.Wait(10000));
        Assert.Throws<ObjectDisposedException>(() => t.SetTipSensitivity(1));
    }
}
