// The test assembly as a program of its own, for what a test must watch
// from outside a process:
//   construct              a TabletSettings, made and disposed; exit 3 with
//                          "Type: message" on standard error when that throws
//   exit-without-dispose   open, set a value and end without Dispose
using System;
using PTabletSettings;

static class Program
{
    static int Main(string[] args)
    {
        try
        {
            switch (args[0])
            {
                case "construct":
                    new TabletSettings().Dispose();
                    return 0;
                case "exit-without-dispose":
                    var tablet = new TabletSettings();
                    if (tablet.Open() != ConnectResult.Connected) return 2;
                    tablet.SetTiltSensitivity(5);
                    return 0;
                default:
                    return 64;
            }
        }
        catch (Exception e)
        {
            Console.Error.WriteLine($"{e.GetType().Name}: {e.Message}");
            return 3;
        }
    }
}
