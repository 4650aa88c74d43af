using System;
using System.Collections.Generic;
using PTabletSettings.Native;

namespace PTabletSettings
{
    // One event per slot of the library's callback table, and the callbacks
    // that feed them. A callback runs on the library's thread with its lock
    // held: it copies what it received (the pointers are valid only during
    // the call), queues the event and returns.
    public sealed partial class TabletSettings
    {
        // The library hands all ten wedges to slot 7, one per Wedge value.
        private static readonly int WedgeCount = Enum.GetValues(typeof(Wedge)).Length;

        /// <summary>The service's or the HID router's version changed (slot 0).</summary>
        public event EventHandler<SettingEventArgs<Versions>> VersionsChanged;

        /// <summary>The current pen names a pen on file, or its battery status arrived (slot 1).</summary>
        public event EventHandler<SettingEventArgs<PenInfo>> PenInfoChanged;

        /// <summary>The eraser end's single-press function changed (slot 2).</summary>
        public event EventHandler<SettingEventArgs<ButtonFunction>> EraserSinglePressChanged;

        /// <summary>The eraser end's double-press function changed (slot 3).</summary>
        public event EventHandler<SettingEventArgs<ButtonFunction>> EraserDoublePressChanged;

        /// <summary>The eraser end's long-press function changed (slot 4).</summary>
        public event EventHandler<SettingEventArgs<ButtonFunction>> EraserLongPressChanged;

        /// <summary>The top side switch's function or hover click changed (slot 5).</summary>
        public event EventHandler<SettingEventArgs<SideSwitch>> TopSwitchChanged;

        /// <summary>The bottom side switch's function or hover click changed (slot 6).</summary>
        public event EventHandler<SettingEventArgs<SideSwitch>> BottomSwitchChanged;

        /// <summary>A radial-menu wedge changed; carries all ten (slot 7).</summary>
        public event EventHandler<WedgeEventArgs> MenuOpChanged;

        /// <summary>The tip's pressure curve changed (slot 8).</summary>
        public event EventHandler<SettingEventArgs<int>> TipSensitivityChanged;

        /// <summary>The tilt sensitivity changed (slot 9).</summary>
        public event EventHandler<SettingEventArgs<int>> TiltSensitivityChanged;

        /// <summary>The slaved display zoom map changed (slot 10).</summary>
        public event EventHandler<SettingEventArgs<ZoomMap>> SlavedDisplayZoomChanged;

        /// <summary>
        /// The applications offered to run arrived (slot 11). Each carries the list's own
        /// code and the text to show; to assign one, use <see cref="ButtonFunction.RunApplication"/> with that text.
        /// </summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>> RunAppOptionsArrived;

        /// <summary>The functions offered for the top button's single press arrived (slot 12).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>> TopButtonSingleOptionsArrived;

        /// <summary>The functions offered for the top button's double press arrived (slot 13).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>> TopButtonDoubleOptionsArrived;

        /// <summary>The functions offered for the top button's long press arrived (slot 14).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>> TopButtonLongOptionsArrived;

        /// <summary>The functions offered for the side switches arrived (slot 15).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>> SideSwitchOptionsArrived;

        /// <summary>The functions offered for the radial-menu wedges arrived (slot 16).</summary>
        public event EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>> RadialWedgeOptionsArrived;

        /// <summary>At <see cref="Open"/>: the number of radial-menu wedges, always 10 (slot 17).</summary>
        public event EventHandler<SettingEventArgs<int>> WedgeCountReported;

        /// <summary>At <see cref="Open"/>, after the wedge count: always 0 to 6 (slot 18).</summary>
        public event EventHandler<SettingEventArgs<SettingRange>> RangeAReported;

        /// <summary>At <see cref="Open"/>, after range A: always -90 to 90 (slot 19).</summary>
        public event EventHandler<SettingEventArgs<SettingRange>> RangeBReported;

        /// <summary>
        /// A handler of another event threw; raised in its place, on the same thread. The
        /// link goes on. What a handler of this event throws is dropped.
        /// </summary>
        public event EventHandler<HandlerExceptionEventArgs> UnhandledException;

        // Each lambda names the event it feeds: the handlers are read when the
        // event is raised, so a handler added after Open still receives what
        // was queued before it.
        private PevraNUV_Callbacks CreateCallbacks() => new PevraNUV_Callbacks
        {
            OnVersions = (context, v) => Report(() => VersionsChanged, () => Copy.Versions(v)),
            OnPenInfo = (context, p) => Report(() => PenInfoChanged, () => Copy.PenInfo(p)),
            OnEraserSinglePress = (context, f, i) => Report(() => EraserSinglePressChanged, () => Copy.Function(f, i)),
            OnEraserDoublePress = (context, f, i) => Report(() => EraserDoublePressChanged, () => Copy.Function(f, i)),
            OnEraserLongPress = (context, f, i) => Report(() => EraserLongPressChanged, () => Copy.Function(f, i)),
            OnTopSwitch = (context, s) => Report(() => TopSwitchChanged, () => Copy.SideSwitch(s)),
            OnBottomSwitch = (context, s) => Report(() => BottomSwitchChanged, () => Copy.SideSwitch(s)),
            OnMenuOp = (context, wedges, index) => Report(() => MenuOpChanged,
                () => new WedgeEventArgs((Wedge)(int)index, Copy.Functions(wedges, WedgeCount))),
            OnTipSensitivity = (context, value) => Report(() => TipSensitivityChanged, () => value),
            OnTiltSensitivity = (context, value) => Report(() => TiltSensitivityChanged, () => value),
            OnSlavedDisplayZoom = (context, zoom) => Report(() => SlavedDisplayZoomChanged, () => Copy.Zoom(zoom)),
            OnRunAppOptions = (context, o, n) => ReportOptions(() => RunAppOptionsArrived, o, n),
            OnTopButtonSingleOptions = (context, o, n) => ReportOptions(() => TopButtonSingleOptionsArrived, o, n),
            OnTopButtonDoubleOptions = (context, o, n) => ReportOptions(() => TopButtonDoubleOptionsArrived, o, n),
            OnTopButtonLongOptions = (context, o, n) => ReportOptions(() => TopButtonLongOptionsArrived, o, n),
            OnSideSwitchOptions = (context, o, n) => ReportOptions(() => SideSwitchOptionsArrived, o, n),
            OnRadialWedgeOptions = (context, o, n) => ReportOptions(() => RadialWedgeOptionsArrived, o, n),
            OnWedgeCount = (context, count) => Report(() => WedgeCountReported, () => (int)count),
            OnRangeA = (context, low, high) => Report(() => RangeAReported, () => new SettingRange(low, high)),
            OnRangeB = (context, low, high) => Report(() => RangeBReported, () => new SettingRange(low, high)),
        };

        private void ReportOptions(Func<EventHandler<SettingEventArgs<IReadOnlyList<ButtonFunction>>>> handlers,
                                   IntPtr options, UIntPtr count) =>
            Report(handlers, () => (IReadOnlyList<ButtonFunction>)Array.AsReadOnly(Copy.Functions(options, (int)count)));

        private void Report<T>(Func<EventHandler<SettingEventArgs<T>>> handlers, Func<T> copy) =>
            Report(handlers, () => new SettingEventArgs<T>(copy()));

        // On the library's thread. Nothing may be thrown back into native
        // code: what copying or queueing throws (out of memory) loses this
        // value, never the process.
        private void Report<TArgs>(Func<EventHandler<TArgs>> handlers, Func<TArgs> copy)
        {
            try
            {
                TArgs args = copy();
                m_pump.Post(() => Raise(handlers(), args));
            }
            catch (Exception)
            {
            }
        }

        // On the captured context or the pump's thread. Each handler is called
        // on its own, so that one that throws does not keep the next from the value.
        private void Raise<TArgs>(EventHandler<TArgs> handlers, TArgs args)
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
            try
            {
                UnhandledException?.Invoke(this, new HandlerExceptionEventArgs(exception));
            }
            catch (Exception)
            {
                // A throwing exception handler would end the pump's thread (and the process) otherwise.
            }
        }
    }
}
