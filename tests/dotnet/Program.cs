// The test assembly as a program of its own, for what a test watches from
// outside a process: "construct" makes and disposes a TabletSettings (exit 3
// and "Type: message" on standard error when that throws);
// "exit-without-dispose" opens, sets a value and ends without Dispose.
using PTabletSettings;

static class Program
{
    static int Main(string[] args)
    {
        try
        {
            var tablet = new TabletSettings();
            if (args[0] == "construct") tablet.Dispose();
            else if (tablet.Open() == ConnectResult.Connected) tablet.SetTiltSensitivity(5);
            else return 2;
            return 0;
        }
        catch (Exception e)
        {
            Console.Error.WriteLine($"{e.GetType().Name}: {e.Message}");
            return 3;
        }
    }
}
