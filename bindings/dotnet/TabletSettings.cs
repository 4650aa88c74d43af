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
    /// Events are raised on the <see cref="SynchronizationContext"/> current
    /// when the object was created (a UI thread), or, when there was none, on
    /// a thread of the binding's own; one at a time, never on the library's
    /// thread. Values that pile up are coalesced: the newest of each setting
    /// (of each wedge, each pen, each list) is raised. Every method may be
    /// called from any thread, also from an event handler. One session per
    /// process, shared with the C++ face: a second one is refused.
    /// </remarks>
    public sealed partial class TabletSettings : IDisposable
    {
        /// <summary>The radial menu's wedges: <see cref="Wedge.East"/> to <see cref="Wedge.Outside"/>.</summary>
        public const int WedgeCount = 10;

        /// <summary>The longest key capture <see cref="CaptureKeystrokesAsync"/> accepts.</summary>
        public static readonly TimeSpan MaxCaptureDuration = TimeSpan.FromMinutes(10);

        // Room for far more than a capture gathers: the library hands over
        // nothing when the keystrokes do not fit.
        private const int KeyCaptureUnits = 64 * 1024;
        private static readonly TimeSpan OpenPollInterval = TimeSpan.FromMilliseconds(100);
        private static readonly TimeSpan AvailabilityPollInterval = TimeSpan.FromSeconds(1);
        // The stop of a capture has no read-back: Dispose gives the library's
        // thread this long to write it before the link closes.
        private static readonly TimeSpan CaptureStopAllowance = TimeSpan.FromMilliseconds(200);

        // Every call into the library holds this lock, so that the shutdown
        // of Dispose never overlaps another call. It is never held across a
        // wait, and the library's callbacks never take it.
        private readonly object m_calls = new object();
        private readonly Link m_link;
        private readonly EventPump m_pump;
        private readonly CancellationTokenSource m_disposing = new CancellationTokenSource();
        private Timer? m_availabilityPoll;
        private bool m_capturing;
        private volatile bool m_disposed;

        /// <summary>
        /// Loads the native library, takes the process's one session and captures
        /// <see cref="SynchronizationContext.Current"/> for the events. Nothing is sent before <see cref="Open"/>.
        /// </summary>
        /// <exception cref="DllNotFoundException">
        /// The native library is missing or built for another architecture; the message names
        /// the file and the folders searched.
        /// </exception>
        /// <exception cref="PlatformNotSupportedException">A 32-bit process.</exception>
        /// <exception cref="InvalidOperationException">Another session of this process (a TabletSettings, or the C++ face) is open.</exception>
        public TabletSettings()
        {
            try
            {
                Loader.Load();
                m_link = new Link(this);
            }
            catch
            {
                GC.SuppressFinalize(this);
                throw;
            }
            m_pump = new EventPump(SynchronizationContext.Current);
        }

        /// <summary>A TabletSettings nobody disposed: shuts the library down and frees the session.</summary>
        ~TabletSettings() => Close();

        /// <summary>
        /// Registers the callbacks (<see cref="WedgeCountReported"/>, <see cref="RangeAReported"/>
        /// and <see cref="RangeBReported"/> follow) and connects, waiting about 1 ms for the service;
        /// its values then arrive through the events. From then on the availability is
        /// polled once a second (<see cref="AvailabilityChanged"/>).
        /// </summary>
        /// <returns>Whether the service was there.</returns>
        public ConnectResult Open()
        {
            Register();
            return Connect();
        }

        /// <summary>
        /// <see cref="Open"/>, trying again every 100 ms until the service answers: for a
        /// service that is starting or busy. The wait holds no lock: setters, <see cref="Dispose"/>
        /// and the UI go on meanwhile.
        /// </summary>
        /// <exception cref="OperationCanceledException"><paramref name="cancellation"/> was cancelled first.</exception>
        public async Task OpenAsync(CancellationToken cancellation = default)
        {
            cancellation.ThrowIfCancellationRequested();
            Register();
            // Connect(0) waits about 1 ms; -1 would wait for the pipe inside the library, uncancellable.
            while (Connect() != ConnectResult.Connected)
                await Task.Delay(OpenPollInterval, cancellation).ConfigureAwait(false);
        }

        /// <summary>
        /// Connects, when not connected, waiting about 1 ms for the service, and records the
        /// answer as the availability. After the service restarts the library reconnects by
        /// itself; this only asks sooner.
        /// </summary>
        public ConnectResult Connect()
        {
            int result;
            lock (m_calls)
            {
                ThrowIfDisposed();
                result = NativeMethods.PevraNUV_Connect(0);
            }
            SetAvailable(result == 0);
            return result == 0 ? ConnectResult.Connected : ConnectResult.ServiceNotAvailable;
        }

        /// <summary>Sets the library's diagnostic log level (3 and below: nothing; 4: standard error or the debugger; 5: also a file).</summary>
        public void SetLogLevel(int level)
        {
            lock (m_calls)
            {
                ThrowIfDisposed();
                NativeMethods.PevraNUV_SetLogLevel(level);
            }
        }

        private unsafe void Register()
        {
            lock (m_calls)
            {
                ThrowIfDisposed();
                NativeMethods.PevraNUV_RegisterCallbacks(Callbacks.Table, m_link.Context);
                // A weak reference: the timer must not keep a lost TabletSettings from its finalizer.
                m_availabilityPoll ??= new Timer(state => Poll((WeakReference<TabletSettings>)state!),
                    new WeakReference<TabletSettings>(this), AvailabilityPollInterval, AvailabilityPollInterval);
            }
        }

        private static void Poll(WeakReference<TabletSettings> tablet)
        {
            try
            {
                if (tablet.TryGetTarget(out var target)) target.Connect();
            }
            catch (ObjectDisposedException)
            {
            }
        }

        /// <summary>
        /// Records keystrokes: checks the duration and the token, tells the service to start,
        /// waits for <paramref name="duration"/> or until <paramref name="cancellation"/> is
        /// cancelled, then tells it to stop and returns what it recorded. No event reports
        /// the keystrokes while recording. Finish a capture before <see cref="Dispose"/>:
        /// Dispose queues the stop but cannot know that it reached the service.
        /// </summary>
        /// <returns>The recorded keystrokes (also when cancelled); empty when there were none.</returns>
        /// <exception cref="ArgumentOutOfRangeException">The duration is not above zero or above <see cref="MaxCaptureDuration"/>.</exception>
        /// <exception cref="OperationCanceledException">The token was cancelled before the capture started.</exception>
        /// <exception cref="InvalidOperationException">A capture is running already, or the service is not available.</exception>
        public async Task<string> CaptureKeystrokesAsync(TimeSpan duration, CancellationToken cancellation = default)
        {
            if (duration <= TimeSpan.Zero || duration > MaxCaptureDuration)
                throw new ArgumentOutOfRangeException(nameof(duration), duration,
                    $"a key capture lasts more than zero and at most {MaxCaptureDuration.TotalMinutes} minutes");
            cancellation.ThrowIfCancellationRequested();
            lock (m_calls)
            {
                ThrowIfUnusable();
                if (m_capturing) throw new InvalidOperationException("a key capture is running already");
                m_capturing = true;
                NativeMethods.PevraNUV_StartKeyCapture();
            }
            using (var end = CancellationTokenSource.CreateLinkedTokenSource(cancellation, m_disposing.Token))
            {
                try
                {
                    await Task.Delay(duration, end.Token).ConfigureAwait(false);
                }
                catch (OperationCanceledException)
                {
                    // Cancelled: finish now with what was recorded so far.
                }
            }
            lock (m_calls)
            {
                // Disposed meanwhile: Dispose queued the stop already.
                if (!m_capturing) return "";
                m_capturing = false;
                return FinishCapture();
            }
        }

        // Under m_calls: queues the stop and takes what was recorded.
        private unsafe string FinishCapture()
        {
            var keys = new char[KeyCaptureUnits];
            fixed (char* buffer = keys) NativeMethods.PevraNUV_FinishKeyCapture(buffer, (UIntPtr)(keys.Length * sizeof(char)));
            int end = Array.IndexOf(keys, '\0');
            return new string(keys, 0, end < 0 ? keys.Length : end);
        }

        /// <summary>
        /// Shuts the library down (its thread has ended when this returns), frees the process's
        /// session and ends the events; events still pending are not raised. A capture still
        /// running is stopped first (up to 200 ms more). Never throws; may be called from an
        /// event handler and more than once; any other use afterwards throws <see cref="ObjectDisposedException"/>.
        /// </summary>
        public void Dispose()
        {
            Close();
            GC.SuppressFinalize(this);
        }

        private void Close()
        {
            try
            {
                bool stopQueued = false;
                lock (m_calls)
                {
                    if (m_disposed) return;
                    m_disposed = true;
                    m_availabilityPoll?.Dispose();
                    if (m_capturing && m_link != null)
                    {
                        m_capturing = false;
                        FinishCapture();
                        stopQueued = true;
                    }
                }
                m_disposing.Cancel();
                if (stopQueued) Thread.Sleep(CaptureStopAllowance);
            }
            catch (Exception)
            {
                // Dispose never throws: the link below is closed all the same.
            }
            m_link?.Close();
            m_pump?.Dispose();
        }

        private void ThrowIfDisposed()
        {
            if (m_disposed) throw new ObjectDisposedException(nameof(TabletSettings));
        }
    }
}
