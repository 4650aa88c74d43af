using System;
using System.Collections.Generic;

namespace PTabletSettings
{
    // The slots of the library's callback table, in its order, and the
    // binding's own availability reading after them.
    internal enum Slot
    {
        Versions, PenInfo, EraserSinglePress, EraserDoublePress, EraserLongPress, TopSwitch, BottomSwitch, MenuOp,
        TipSensitivity, TiltSensitivity, SlavedDisplayZoom, RunAppOptions, TopButtonSingleOptions, TopButtonDoubleOptions,
        TopButtonLongOptions, SideSwitchOptions, RadialWedgeOptions, WedgeCount, RangeA, RangeB, Availability,
    }

    // One event per slot of the library's callback table, the last value of
    // each (readable at any time as a property), and the availability.
    public sealed partial class TabletSettings
    {
        // The last value of each slot; the pens by serial number. Under m_values.
        private readonly object?[] m_last = new object?[(int)Slot.Availability + 1];
        private readonly Dictionary<string, int> m_penKeys = new Dictionary<string, int>(StringComparer.Ordinal);
        private readonly object m_values = new object();
        private bool? m_available;

        /// <summary>The service's or the HID router's version changed (slot 0).</summary>
        public event EventHandler<SettingEventArgs<Versions>>? VersionsChanged;

        /// <summary>The current pen names a pen on file, or its battery status arrived (slot 1).</summary>
        public event EventHandler<SettingEventArgs<PenInfo>>? PenInfoChanged;

        /// <summary>The eraser end's single-press function changed (slot 2).</summary>
        public event EventHandler<SettingEventArgs<ButtonFunction>>? EraserSinglePressChanged;

        /// <summary>The eraser end's double-press function changed (slot 3).</summary>
        public event EventHandler<SettingEventArgs<ButtonFunction>>? EraserDoublePressChanged;

        /// <summary>The eraser end's long-press function changed (slot 4).</summary>
        public event EventHandler<SettingEventArgs<ButtonFunction>>? EraserLongPressChanged;

        /// <summary>The top side switch's function or hover click changed (slot 5).</summary>
        public event EventHandler<SettingEventArgs<SideSwitch>>? TopSwitchChanged;

        /// <summary>The bottom side switch's function or hover click changed (slot 6).</summary>
        public event EventHandler<SettingEventArgs<SideSwitch>>? BottomSwitchChanged;

        /// <summary>A radial-menu wedge changed; carries all ten (slot 7).</summary>
        public event EventHandler<WedgeEventArgs>? MenuOpChanged;

        /// <summary>The tip's pressure curve changed (slot 8).</summary>
        public event EventHandler<SettingEventArgs<int>>? TipSensitivityChanged;

        /// <summary>The tilt sensitivity changed (slot 9).</summary>
        public event EventHandler<SettingEventArgs<int>>? TiltSensitivityChanged;

        /// <summary>The slaved display zoom map changed (slot 10).</summary>
        public event EventHandler<SettingEventArgs<ZoomMap>>? SlavedDisplayZoomChanged;

        /// <summary>
        /// The applications offered to run arrived (slot 11). Each carries the list's own
        /// code and the text to show; to assign one, use <see cref="ButtonFunction.RunApplication"/> with that text.
        /// </summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>>? RunAppOptionsArrived;

        /// <summary>The functions offered for the top button's single press arrived (slot 12).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>>? TopButtonSingleOptionsArrived;

        /// <summary>The functions offered for the top button's double press arrived (slot 13).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>>? TopButtonDoubleOptionsArrived;

        /// <summary>The functions offered for the top button's long press arrived (slot 14).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>>? TopButtonLongOptionsArrived;

        /// <summary>The functions offered for the side switches arrived (slot 15).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>>? SideSwitchOptionsArrived;

        /// <summary>The functions offered for the radial-menu wedges arrived (slot 16).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>>? RadialWedgeOptionsArrived;

        /// <summary>At <see cref="Open"/>: the number of radial-menu wedges, always 10 (slot 17).</summary>
        public event EventHandler<SettingEventArgs<int>>? WedgeCountReported;

        /// <summary>At <see cref="Open"/>, after the wedge count: always 0 to 6 (slot 18).</summary>
        public event EventHandler<SettingEventArgs<SettingRange>>? RangeAReported;

        /// <summary>At <see cref="Open"/>, after range A: always -90 to 90 (slot 19).</summary>
        public event EventHandler<SettingEventArgs<SettingRange>>? RangeBReported;

        /// <summary>
        /// The service came or went (<see cref="SettingEventArgs{T}.Value"/>: whether it is there now),
        /// as read by <see cref="Open"/>, <see cref="Connect"/> and a poll once a second after Open.
        /// </summary>
        public event EventHandler<SettingEventArgs<bool>>? AvailabilityChanged;

        /// <summary>
        /// A handler of another event threw; raised in its place, on the same thread, and the
        /// link goes on. With no handler here, the exception is thrown again on the captured
        /// context (WPF: DispatcherUnhandledException), or on the binding's own thread when
        /// there was none (which ends the process, as any unhandled exception does).
        /// What a handler of this event throws is dropped.
        /// </summary>
        public event EventHandler<HandlerExceptionEventArgs>? UnhandledException;

        /// <summary>The last availability reading: false before <see cref="Open"/>.</summary>
        public bool IsServiceAvailable => m_available == true;

        /// <summary>The last versions reported; null until then.</summary>
        public Versions? Versions => Last<Versions>(Slot.Versions);

        /// <summary>The last pen reported; null until then.</summary>
        public PenInfo? Pen => Last<PenInfo>(Slot.PenInfo);

        /// <summary>The eraser end's single-press function as last reported; null until then.</summary>
        public ButtonFunction? EraserSinglePress => Last<ButtonFunction>(Slot.EraserSinglePress);

        /// <summary>The eraser end's double-press function as last reported; null until then.</summary>
        public ButtonFunction? EraserDoublePress => Last<ButtonFunction>(Slot.EraserDoublePress);

        /// <summary>The eraser end's long-press function as last reported; null until then.</summary>
        public ButtonFunction? EraserLongPress => Last<ButtonFunction>(Slot.EraserLongPress);

        /// <summary>The top side switch as last reported; null until then.</summary>
        public SideSwitch? TopSwitch => Last<SideSwitch>(Slot.TopSwitch);

        /// <summary>The bottom side switch as last reported; null until then.</summary>
        public SideSwitch? BottomSwitch => Last<SideSwitch>(Slot.BottomSwitch);

        /// <summary>All ten wedges as last reported (index with <see cref="Wedge"/>); null until then.</summary>
        public IReadOnlyList<ButtonFunction>? Wedges => Last<WedgeEventArgs>(Slot.MenuOp)?.Wedges;

        /// <summary>The tip's pressure curve as last reported; null until then.</summary>
        public int? TipSensitivity => Last<object>(Slot.TipSensitivity) as int?;

        /// <summary>The tilt sensitivity as last reported; null until then.</summary>
        public int? TiltSensitivity => Last<object>(Slot.TiltSensitivity) as int?;

        /// <summary>The slaved display zoom map as last reported; null until then.</summary>
        public ZoomMap? Zoom => Last<object>(Slot.SlavedDisplayZoom) as ZoomMap?;

        /// <summary>The applications offered to run, as last reported; null until then.</summary>
        public IReadOnlyList<ButtonFunction>? RunAppOptions => Last<IReadOnlyList<ButtonFunction>>(Slot.RunAppOptions);

        /// <summary>The functions offered for the top button's single press; null until reported.</summary>
        public IReadOnlyList<ButtonFunction>? TopButtonSingleOptions => Last<IReadOnlyList<ButtonFunction>>(Slot.TopButtonSingleOptions);

        /// <summary>The functions offered for the top button's double press; null until reported.</summary>
        public IReadOnlyList<ButtonFunction>? TopButtonDoubleOptions => Last<IReadOnlyList<ButtonFunction>>(Slot.TopButtonDoubleOptions);

        /// <summary>The functions offered for the top button's long press; null until reported.</summary>
        public IReadOnlyList<ButtonFunction>? TopButtonLongOptions => Last<IReadOnlyList<ButtonFunction>>(Slot.TopButtonLongOptions);

        /// <summary>The functions offered for the side switches; null until reported.</summary>
        public IReadOnlyList<ButtonFunction>? SideSwitchOptions => Last<IReadOnlyList<ButtonFunction>>(Slot.SideSwitchOptions);

        /// <summary>The functions offered for the radial-menu wedges; null until reported.</summary>
        public IReadOnlyList<ButtonFunction>? RadialWedgeOptions => Last<IReadOnlyList<ButtonFunction>>(Slot.RadialWedgeOptions);

        private T? Last<T>(Slot slot) where T : class
        {
            lock (m_values) return m_last[(int)slot] as T;
        }

        // On the library's thread (Native.Callbacks): keeps the value and
        // queues its event under the key of its slot and index.
        internal void Receive(Slot slot, int index, object value)
        {
            if (value is ButtonFunction[] list) value = Array.AsReadOnly(list);
            lock (m_values)
            {
                m_last[(int)slot] = value;
                if (value is PenInfo pen)
                {
                    if (!m_penKeys.TryGetValue(pen.SerialNumber, out index)) m_penKeys.Add(pen.SerialNumber, index = m_penKeys.Count);
                }
            }
            m_pump.Post(((long)slot << 32) | (uint)index, () => Raise(slot, value));
        }

        private void SetAvailable(bool available)
        {
            lock (m_values)
            {
                if (m_available == available) return;
                m_available = available;
            }
            Receive(Slot.Availability, 0, available);
        }

        // On the captured context or the pump's thread.
        private void Raise(Slot slot, object value)
        {
            switch (slot)
            {
                case Slot.Versions: Raise(VersionsChanged, value); break;
                case Slot.PenInfo: Raise(PenInfoChanged, value); break;
                case Slot.EraserSinglePress: Raise(EraserSinglePressChanged, value); break;
                case Slot.EraserDoublePress: Raise(EraserDoublePressChanged, value); break;
                case Slot.EraserLongPress: Raise(EraserLongPressChanged, value); break;
                case Slot.TopSwitch: Raise(TopSwitchChanged, value); break;
                case Slot.BottomSwitch: Raise(BottomSwitchChanged, value); break;
                case Slot.MenuOp: Raise(MenuOpChanged, (WedgeEventArgs)value); break;
                case Slot.TipSensitivity: Raise(TipSensitivityChanged, value); break;
                case Slot.TiltSensitivity: Raise(TiltSensitivityChanged, value); break;
                case Slot.SlavedDisplayZoom: Raise(SlavedDisplayZoomChanged, value); break;
                case Slot.RunAppOptions: Raise(RunAppOptionsArrived, value); break;
                case Slot.TopButtonSingleOptions: Raise(TopButtonSingleOptionsArrived, value); break;
                case Slot.TopButtonDoubleOptions: Raise(TopButtonDoubleOptionsArrived, value); break;
                case Slot.TopButtonLongOptions: Raise(TopButtonLongOptionsArrived, value); break;
                case Slot.SideSwitchOptions: Raise(SideSwitchOptionsArrived, value); break;
                case Slot.RadialWedgeOptions: Raise(RadialWedgeOptionsArrived, value); break;
                case Slot.WedgeCount: Raise(WedgeCountReported, value); break;
                case Slot.RangeA: Raise(RangeAReported, value); break;
                case Slot.RangeB: Raise(RangeBReported, value); break;
                case Slot.Availability: Raise(AvailabilityChanged, value); break;
            }
        }

        private void Raise<T>(EventHandler<SettingEventArgs<T>>? handlers, object value)
        {
            if (handlers != null) Raise(handlers, new SettingEventArgs<T>((T)value));
        }

        // Each handler is called on its own, so that one that throws does not
        // keep the next from the value.
        private void Raise<TArgs>(EventHandler<TArgs>? handlers, TArgs args)
        {
            if (handlers == null) return;
            foreach (EventHandler<TArgs> handler in handlers.GetInvocationList())
            {
                if (m_disposed) return;
                try
                {
                    handler(this, args);
                }
                catch (Exception e)
                {
                    ReportHandlerException(e);
                }
            }
        }

        private void ReportHandlerException(Exception exception)
        {
            var observers = UnhandledException;
            if (observers == null)
            {
                m_pump.Rethrow(exception);
                return;
            }
            try
            {
                observers(this, new HandlerExceptionEventArgs(exception));
            }
            catch (Exception)
            {
                // A throwing exception handler would end the pump's thread (and the process) otherwise.
            }
        }
    }
}
