using System.Collections.Generic;

namespace PTabletSettings
{
    /// <summary>The service's and the HID router's version texts.</summary>
    public sealed class Versions
    {
        internal Versions(string hidRouter, string service)
        {
            HidRouter = hidRouter;
            Service = service;
        }

        /// <summary>The HID router's version (setting HIDRouterVersion).</summary>
        public string HidRouter { get; }

        /// <summary>The service's version (setting ServiceVersion).</summary>
        public string Service { get; }
    }

    /// <summary>The pen on file for the current pen, keyed by its serial number.</summary>
    public sealed class PenInfo
    {
        internal PenInfo(string serialNumber, string penId, string btId, int batteryStatus)
        {
            SerialNumber = serialNumber;
            PenId = penId;
            BtId = btId;
            BatteryStatus = batteryStatus;
        }

        /// <summary>The serial number, at most 15 characters.</summary>
        public string SerialNumber { get; }

        /// <summary>The pen id paired with this serial number.</summary>
        public string PenId { get; }

        /// <summary>The Bluetooth module id paired with this serial number.</summary>
        public string BtId { get; }

        /// <summary>The last battery status of this pen.</summary>
        public int BatteryStatus { get; }
    }

    /// <summary>One side switch of the pen.</summary>
    public sealed class SideSwitch
    {
        internal SideSwitch(ButtonFunction press, bool hoverClick)
        {
            Press = press;
            HoverClick = hoverClick;
        }

        /// <summary>The single-press function.</summary>
        public ButtonFunction Press { get; }

        /// <summary>Whether hover click is on.</summary>
        public bool HoverClick { get; }
    }

    /// <summary>The four numbers of the slaved display zoom map, in the library's order.</summary>
    public struct ZoomMap
    {
        /// <summary>A zoom map of four numbers.</summary>
        public ZoomMap(int a, int b, int c, int d)
        {
            A = a;
            B = b;
            C = c;
            D = d;
        }

        /// <summary>The first number.</summary>
        public int A { get; }

        /// <summary>The second number.</summary>
        public int B { get; }

        /// <summary>The third number.</summary>
        public int C { get; }

        /// <summary>The fourth number.</summary>
        public int D { get; }

        /// <summary>The four numbers in braces, as the service writes them.</summary>
        public override string ToString() => $"{{{A},{B},{C},{D}}}";
    }

    /// <summary>A range the library reports at registration.</summary>
    public struct SettingRange
    {
        internal SettingRange(int low, int high)
        {
            Low = low;
            High = high;
        }

        /// <summary>The lowest value.</summary>
        public int Low { get; }

        /// <summary>The highest value.</summary>
        public int High { get; }
    }

    /// <summary>The radial menu's ten wedges, in the library's order (the index of each).</summary>
    public enum Wedge
    {
        /// <summary>Wedge 0.</summary>
        East,
        /// <summary>Wedge 1.</summary>
        Southeast,
        /// <summary>Wedge 2.</summary>
        South,
        /// <summary>Wedge 3.</summary>
        Southwest,
        /// <summary>Wedge 4.</summary>
        West,
        /// <summary>Wedge 5.</summary>
        Northwest,
        /// <summary>Wedge 6.</summary>
        North,
        /// <summary>Wedge 7.</summary>
        Northeast,
        /// <summary>Wedge 8.</summary>
        Center,
        /// <summary>Wedge 9.</summary>
        Outside,
    }

    /// <summary>What connecting found.</summary>
    public enum ConnectResult
    {
        /// <summary>Connected (also when the link was up already).</summary>
        Connected,
        /// <summary>The settings service is not running in this session.</summary>
        ServiceNotAvailable,
    }
}
