using System;
using System.Threading;
using System.Threading.Tasks;
using PTabletSettings.Native;

namespace PTabletSettings
{
    /// <summary>
    /// The link to the pen-tablet driver's settings service: the library's one
    /// client in this process. Create it, subscribe to its events, then
    /// <see cref="Open"/> it; <see cref="Dispose"/> shuts the library down.
    /// </summary>
    /// <remarks>
    /// Events are raised on the <see cref="System.Threading.SynchronizationContext"/> current
    /// when the object was created (a UI thread), or, when there was none, on
    /// a thread of the binding's own; one at a time, in the order the library
    /// reported the values, and never on the library's thread. Every method
    /// may be called from any thread, also from an event handler. Only one
    /// TabletSettings may exist at a time in a process.
    /// </remarks>
    public sealed partial class TabletSettings : IDisposable
    {
        // Room for far more than a capture gathers: the library hands over
        // nothing when the keystrokes do not fit.
        private const int KeyCaptureUnits = 64 * 1024;

        // The open instance. Static, so that the delegates the library calls
        // stay reachable until Dispose even when the host drops its reference
        // without disposing.
        private static TabletSettings s_open;

        // Every call into the library holds this lock, so that
        // PevraNUV_Shutdown never overlaps another call. Callbacks never take it.
        private readonly object m_calls = new object();
        private readonly EventPump m_pump;
        private readonly CallbackTable m_table;
        private volatile bool m_disposed;

        /// <summary>
        /// Prepares the link and captures <see cref="System.Threading.SynchronizationContext.Current"/>
        /// for the events. Nothing is sent before <see cref="Open"/>.
        /// </summary>
        /// <exception cref="PlatformNotSupportedException">
        /// A 32-bit process, or a runtime that lays out a record unlike PTabletSettingsAPI.h.
        /// </exception>
        /// <exception cref="InvalidOperationException">Another TabletSettings is not disposed yet.</exception>
        public TabletSettings()
        {
            Layout.Check();
            if (Interlocked.CompareExchange(ref s_open, this, null) != null)
                throw new InvalidOperationException(
                    "A TabletSettings is open in this process already: the library has one client per process. " +
                    "Dispose it before creating another.");
            try
            {
                m_pump = EventPump.For(SynchronizationContext.Current);
                m_table = new CallbackTable(CreateCallbacks());
            }
            catch
            {
                m_pump?.Dispose();
                s_open = null;
                throw;
            }
        }

        /// <summary>
        /// Registers the callbacks (<see cref="WedgeCountReported"/>, <see cref="RangeAReported"/>
        /// and <see cref="RangeBReported"/> follow) and connects; the service's values then
        /// arrive through the events. Opening again connects again.
        /// </summary>
        /// <param name="waitWhileBusy">Wait for as long as the service's pipe is busy, not about 1 ms.</param>
        /// <returns>Whether the service was there.</returns>
        public ConnectResult Open(bool waitWhileBusy = false)
        {
            // The callbacks are bound to this object already: no context is needed.
            Call(() => NativeMethods.PevraNUV_RegisterCallbacks(m_table.Address, IntPtr.Zero));
            return Connect(waitWhileBusy);
        }

        /// <summary>
        /// Connects, when not connected. After the service restarts the library
        /// reconnects by itself; this only asks sooner.
        /// </summary>
        /// <param name="waitWhileBusy">Wait for as long as the service's pipe is busy, not about 1 ms.</param>
        public ConnectResult Connect(bool waitWhileBusy = false) =>
            Call(() => NativeMethods.PevraNUV_Connect(waitWhileBusy ? -1 : 0)) == 0
                ? ConnectResult.Connected
                : ConnectResult.ServiceNotAvailable;

        /// <summary>Whether the settings service answers now (asks the library to connect).</summary>
        public bool IsServiceAvailable => Connect() == ConnectResult.Connected;

        /// <summary>Sets the library's diagnostic log level (3 and below: nothing; 4: standard error or the debugger; 5: also a file).</summary>
        public void SetLogLevel(int level) => Call(() => NativeMethods.PevraNUV_SetLogLevel(level));

        /// <summary>Assigns the eraser end's single-press function; the answer arrives as <see cref="EraserSinglePressChanged"/>.</summary>
        public void SetEraserSinglePress(ButtonFunction function) => SetFunction(NativeMethods.PevraNUV_SetEraserSinglePress, function);

        /// <summary>Assigns the eraser end's double-press function; the answer arrives as <see cref="EraserDoublePressChanged"/>.</summary>
        public void SetEraserDoublePress(ButtonFunction function) => SetFunction(NativeMethods.PevraNUV_SetEraserDoublePress, function);

        /// <summary>Assigns the eraser end's long-press function; the answer arrives as <see cref="EraserLongPressChanged"/>.</summary>
        public void SetEraserLongPress(ButtonFunction function) => SetFunction(NativeMethods.PevraNUV_SetEraserLongPress, function);

        /// <summary>Assigns the top side switch's function; the answer arrives as <see cref="TopSwitchChanged"/>.</summary>
        public void SetTopSinglePress(ButtonFunction function) => SetFunction(NativeMethods.PevraNUV_SetTopSinglePress, function);

        /// <summary>Assigns the bottom side switch's function; the answer arrives as <see cref="BottomSwitchChanged"/>.</summary>
        public void SetBottomSinglePress(ButtonFunction function) => SetFunction(NativeMethods.PevraNUV_SetBottomSinglePress, function);

        /// <summary>Assigns a radial-menu wedge's function; the answer arrives as <see cref="MenuOpChanged"/>.</summary>
        public void SetMenuOp(Wedge wedge, ButtonFunction function)
        {
            var record = Copy.Record(function);
            Call(() => NativeMethods.PevraNUV_SetMenuOp((int)wedge, ref record));
        }

        /// <summary>Turns the top switch's hover click on or off; the answer arrives as <see cref="TopSwitchChanged"/>.</summary>
        public void SetTopHoverClick(bool on) => Call(() => NativeMethods.PevraNUV_SetTopHoverClick(on ? 1u : 0u));

        /// <summary>Turns the bottom switch's hover click on or off; the answer arrives as <see cref="BottomSwitchChanged"/>.</summary>
        public void SetBottomHoverClick(bool on) => Call(() => NativeMethods.PevraNUV_SetBottomHoverClick(on ? 1u : 0u));

        /// <summary>Sets the radial menu's center right-click setting (sent unchanged; no event reports it).</summary>
        public void SetMenuCenterRightClick(uint value) => Call(() => NativeMethods.PevraNUV_SetMenuCenterRightClick(value));

        /// <summary>Sets the tilt sensitivity; the answer arrives as <see cref="TiltSensitivityChanged"/>.</summary>
        public void SetTiltSensitivity(uint value) => Call(() => NativeMethods.PevraNUV_SetTiltSensitivity(value));

        /// <summary>Sets the tip's pressure curve; the answer arrives as <see cref="TipSensitivityChanged"/>.</summary>
        public void SetTipSensitivity(uint value) => Call(() => NativeMethods.PevraNUV_SetTipSensitivity(value));

        /// <summary>Sets the slaved display zoom map; the answer arrives as <see cref="SlavedDisplayZoomChanged"/>.</summary>
        public void SetSlavedDisplayZoom(ZoomMap zoom) => Call(() => NativeMethods.PevraNUV_SetSlavedDisplayZoom(Copy.Record(zoom)));

        /// <summary>Sets all four numbers of the zoom map to zero; the answer arrives as <see cref="SlavedDisplayZoomChanged"/>.</summary>
        public void ResetZoom() => Call(NativeMethods.PevraNUV_ResetSlavedDisplayZoom);

        /// <summary>
        /// Records keystrokes: tells the service to start, waits for <paramref name="duration"/>
        /// (or until <paramref name="cancellation"/> is cancelled, which only ends the wait
        /// early), then tells it to stop and returns what it recorded. No event reports the
        /// keystrokes while recording.
        /// </summary>
        /// <returns>The recorded keystrokes; empty when there were none.</returns>
        public async Task<string> CaptureKeystrokesAsync(TimeSpan duration, CancellationToken cancellation = default(CancellationToken))
        {
            Call(NativeMethods.PevraNUV_StartKeyCapture);
            try
            {
                await Task.Delay(duration, cancellation).ConfigureAwait(false);
            }
            catch (OperationCanceledException)
            {
                // Cancelled: finish now with what was recorded so far.
            }
            var keys = new char[KeyCaptureUnits];
            Call(() => NativeMethods.PevraNUV_FinishKeyCapture(keys, (UIntPtr)(keys.Length * sizeof(char))));
            int end = Array.IndexOf(keys, '\0');
            return new string(keys, 0, end < 0 ? keys.Length : end);
        }

        /// <summary>
        /// Shuts the library down (its thread has ended when this returns) and ends the
        /// events; events still queued are not raised. May be called from an event handler
        /// and more than once; any other use afterwards throws <see cref="ObjectDisposedException"/>.
        /// </summary>
        public void Dispose()
        {
            lock (m_calls)
            {
                if (m_disposed) return;
                m_disposed = true;
                NativeMethods.PevraNUV_Shutdown();
                // The library holds no pointer of ours any more.
                m_table.Dispose();
            }
            m_pump.Dispose();
            s_open = null;
        }

        private delegate void FunctionSetter(ref PevraNUV_ButtonFunction record);

        // The record is made first: a bad function throws before anything is sent.
        private void SetFunction(FunctionSetter setter, ButtonFunction function)
        {
            var record = Copy.Record(function);
            Call(() => setter(ref record));
        }

        private void Call(Action call) => Call(() =>
        {
            call();
            return 0;
        });

        private T Call<T>(Func<T> call)
        {
            lock (m_calls)
            {
                if (m_disposed) throw new ObjectDisposedException(nameof(TabletSettings));
                return call();
            }
        }
    }
}
