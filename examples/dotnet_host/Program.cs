// A console host of the .NET binding: prints the values the settings service
// reports and sets the tilt sensitivity to the number given (default 7).
// Exit status: 0 once the service confirmed the tilt, 1 without a service,
// 2 when no confirmation came within ten seconds.
using System;
using System.Threading;
using PTabletSettings;

internal static class Program
{
    private static int Main(string[] args)
    {
        uint tilt = args.Length > 0 ? uint.Parse(args[0]) : 7;
        using (var confirmed = new ManualResetEventSlim())
        using (var tablet = new TabletSettings())
        {
            // Without a UI thread the events are raised on a thread of the binding's own.
            tablet.VersionsChanged += (s, e) => Console.WriteLine($"service {e.Value.Service}, HID router {e.Value.HidRouter}");
            tablet.PenInfoChanged += (s, e) => Console.WriteLine($"pen {e.Value.SerialNumber}, battery {e.Value.BatteryStatus}");
            tablet.SlavedDisplayZoomChanged += (s, e) => Console.WriteLine($"zoom map {e.Value}");
            tablet.TiltSensitivityChanged += (s, e) =>
            {
                Console.WriteLine($"tilt sensitivity {e.Value}");
                if (e.Value == tilt) confirmed.Set();
            };
            if (tablet.Open() != ConnectResult.Connected)
            {
                Console.Error.WriteLine("the settings service is not running");
                return 1;
            }
            tablet.SetTiltSensitivity(tilt);
            if (!confirmed.Wait(TimeSpan.FromSeconds(10))) return 2;
            Console.WriteLine($"tilt sensitivity {tilt} confirmed");
            return 0;
        }
    }
}
