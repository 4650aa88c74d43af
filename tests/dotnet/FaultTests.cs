// The faults a host's developer meets, each with the behaviour a host expects.
using System.Collections.Concurrent;
using System.Diagnostics;
using System.Net.Sockets;
using System.Runtime.CompilerServices;
using PTabletSettings;
using Xunit;

public class FaultTests
{
    const string Refusal = "another PTabletSettings session is open in this process";

    // tests/text_rule_cases.tsv, shared with the C++ face; the input stays escaped until the test (xunit's case names would spoil a lone surrogate).
    public static IEnumerable<object[]> TextRuleCases() =>
        File.ReadLines(Path.Combine(AppContext.BaseDirectory, "text_rule_cases.tsv"))
            .Where(line => line.Length > 0 && !line.StartsWith('#')).Select(line => line.Split('\t'))
            .Select(f => new object[] { f[0], f[1], f[2], f[3], f.Length > 4 ? f[4] : "" });

    [Theory]
    [MemberData(nameof(TextRuleCases))]
    public void TheTextAndNumberRule(string name, string kind, string escaped, string rule, string message) => LinkTests.WithLink("", (t, e, s) =>
    {
        string input = System.Text.RegularExpressions.Regex.Unescape(escaped);
        Action set = kind == "number" ? () => t.SetTiltSensitivity(uint.Parse(input)) : () => t.SetEraserSinglePress(ButtonFunction.Keystrokes(input));
        if (rule == "ok") { set(); return; }
        var refused = Assert.Throws<InputRejectedException>(set);
        Assert.True(refused.Rule.ToString() == rule && refused.Message == message, $"{name}: {refused.Rule}: {refused.Message}");
        // Only the codes that carry a text check it: any other code's text is not sent.
        if (kind == "text") t.SetEraserSinglePress(new ButtonFunction(2, input));
    });

    // Each refused before the library sees it: a wedge outside 0-9 (which
    // the library ignores without a word), a capture it could never stop.
    [Fact]
    public void ArgumentsRefusedBeforeAnythingIsSent() => LinkTests.WithLink("", (t, e, s) =>
    {
        foreach (var wedge in new[] { (Wedge)10, (Wedge)(-1) }) Assert.Throws<ArgumentOutOfRangeException>(() => t.SetMenuOp(wedge, new ButtonFunction(0)));
        foreach (var duration in new[] { TimeSpan.FromSeconds(-1), TimeSpan.Zero, TimeSpan.FromDays(30) })
            Assert.ThrowsAsync<ArgumentOutOfRangeException>(() => t.CaptureKeystrokesAsync(duration)).Wait();
        Assert.ThrowsAsync<OperationCanceledException>(() => t.CaptureKeystrokesAsync(TimeSpan.FromSeconds(1), new CancellationToken(true))).Wait();
        s.Control("key none");
        Assert.True(s.Said("not recording keystrokes"), "no capture was started");
    });

    // Setters on four threads while Dispose runs; Dispose again; a use after
    // it; the session free again afterwards, and held by another module.
    [Fact]
    public void DisposeAmongSettersFreesTheSession()
    {
        using var service = new Service(Env.Values);
        using (var tablet = new TabletSettings())
        {
            Assert.Equal(Refusal, Assert.Throws<InvalidOperationException>(() => new TabletSettings()).Message);
            tablet.Open();
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
            Assert.True(threads.All(thread => thread.Join(10000)), "the setters' threads ended");
            Assert.Empty(failures);
            Assert.Throws<ObjectDisposedException>(() => tablet.ResetZoom());
        }
        // The session is the mark another module of the process (the C++ face) would hold.
        using (var mark = new Socket(AddressFamily.Unix, SocketType.Stream, ProtocolType.Unspecified))
        {
            mark.Bind(new UnixDomainSocketEndPoint("\0PTabletSettingsAPI.Session." + Environment.ProcessId));
            Assert.Equal(Refusal, Assert.Throws<InvalidOperationException>(() => new TabletSettings()).Message);
        }
        new TabletSettings().Dispose();
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    static void Lose() => new TabletSettings().Open();

    [Fact]
    public void ALostInstanceFreesTheSessionWhenFinalized()
    {
        using var service = new Service(Env.Values);
        Lose();
        // Events still pending keep it reachable until they are raised.
        Assert.True(SpinWait.SpinUntil(() =>
        {
            GC.Collect();
            GC.WaitForPendingFinalizers();
            try { new TabletSettings().Dispose(); return true; }
            catch (InvalidOperationException) { return false; }
        }, 10000), "the session was freed");
    }

    // The test assembly run as a program (Program.cs), without the library
    // it needs or with a file of that name that is no library.
    [Theory]
    [InlineData("missing", "")]
    [InlineData("not a library", "not an ELF file")]
    public void AMissingLibraryIsAClearErrorFromTheConstructor(string what, string content)
    {
        string folder = Directory.CreateDirectory(Path.Combine(Env.Work, "lib-" + what.Replace(' ', '-'))).FullName;
        if (content.Length > 0) File.WriteAllText(Path.Combine(folder, "libPTabletSettingsAPI.so"), content);
        var (code, error) = Child("construct", new Dictionary<string, string?> { ["LD_LIBRARY_PATH"] = folder });
        Assert.Equal(3, code);
        Assert.StartsWith("DllNotFoundException: PTabletSettings cannot load its native library libPTabletSettingsAPI.so", error);
        Assert.Contains(folder, error);
    }

    [Fact]
    public void AProcessEndsPromptlyWithoutDispose()
    {
        using var service = new Service(Env.Values);
        Assert.Equal((0, ""), Child("exit-without-dispose"));
    }

    static (int, string) Child(string mode, IDictionary<string, string?>? environment = null)
    {
        using var child = Env.Start(Environment.ProcessPath!, $"{typeof(FaultTests).Assembly.Location} {mode}", environment);
        var error = child.StandardError.ReadToEndAsync();
        bool ended = child.WaitForExit(20000);
        if (!ended) child.Kill(true);
        Assert.True(ended, $"{mode}: the child ended within 20 s");
        return (child.ExitCode, error.Result.Trim());
    }

    // Waiting for a service that is not there holds no lock: Connect answers
    // meanwhile, a cancel ends the wait, and a service that comes is found.
    [Fact]
    public void OpenAsyncWaitsCancellablyWithoutTheLock()
    {
        using var tablet = new TabletSettings();
        using (var cancel = new CancellationTokenSource())
        {
            var opening = tablet.OpenAsync(cancel.Token);
            Thread.Sleep(300);
            var clock = Stopwatch.StartNew();
            Assert.Equal(ConnectResult.ServiceNotAvailable, tablet.Connect());
            Assert.Throws<InvalidOperationException>(() => tablet.SetTiltSensitivity(1));
            Assert.True(clock.ElapsedMilliseconds < 100, $"Connect waited {clock.ElapsedMilliseconds} ms");
            cancel.Cancel();
            Assert.True(Assert.ThrowsAnyAsync<OperationCanceledException>(() => opening).Wait(1000), "cancelled at once");
        }
        var open = tablet.OpenAsync();
        Assert.False(open.Wait(300));
        using var service = new Service(Env.Values);
        Assert.True(open.Wait(10000), "opened once the service came");
    }

    // 5,000 pushes a second among forced collections: the latest value of the
    // pen arrives, and far fewer events than pushes (coalesced).
    [Fact]
    public void AFloodOfPushesIsCoalesced()
    {
        const int pushes = 10000;
        using var service = new Service(Env.Values, $"--push-rate 5000 --push-count {pushes}");
        using var context = new RecordingContext();
        using var tablet = context.Create();
        var e = new Recorder(tablet);
        using var stop = new CancellationTokenSource();
        var collector = Task.Run(() => { while (!stop.IsCancellationRequested) { GC.Collect(); GC.WaitForPendingFinalizers(); } });
        tablet.Open();
        // From 85, down by one a push, 100 after 0; the value repeats, so the
        // last is the one after which nothing more arrives.
        int last = ((85 - pushes) % 101 + 101) % 101;
        Func<Recorder.Event[]> pens = () => e.Events.Where(x => x.Name == "PenInfoChanged").ToArray();
        for (int seen = -1; pens().Length != seen; Thread.Sleep(1000)) seen = pens().Length;
        stop.Cancel();
        collector.Wait();
        Assert.Equal(last, ((PenInfo)pens().Last().Value).BatteryStatus);
        Assert.True(pens().Length < pushes / 2, $"{pens().Length} events for {pushes} pushes");
        Assert.Equal(last, tablet.Pen?.BatteryStatus);
    }
}
