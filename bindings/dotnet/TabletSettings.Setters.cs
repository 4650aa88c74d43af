using System;
using PTabletSettings.Native;

namespace PTabletSettings
{
    // The setters. Each checks its input first (nothing is sent when it is
    // refused), then that the last availability reading has the service
    // there, then queues its change; the value the service reports back
    // arrives as an event. A change accepted just before an outage is still
    // lost: the library reports nothing about it.
    public sealed partial class TabletSettings
    {
        /// <summary>Assigns the eraser end's single-press function; the answer arrives as <see cref="EraserSinglePressChanged"/>.</summary>
        /// <exception cref="InputRejectedException">The text breaks the text rule.</exception>
        /// <exception cref="InvalidOperationException">Not open, or the service is not available.</exception>
        public unsafe void SetEraserSinglePress(ButtonFunction function) => SetFunction(&NativeMethods.PevraNUV_SetEraserSinglePress, function);

        /// <summary>Assigns the eraser end's double-press function; the answer arrives as <see cref="EraserDoublePressChanged"/>.</summary>
        /// <inheritdoc cref="SetEraserSinglePress"/>
        public unsafe void SetEraserDoublePress(ButtonFunction function) => SetFunction(&NativeMethods.PevraNUV_SetEraserDoublePress, function);

        /// <summary>Assigns the eraser end's long-press function; the answer arrives as <see cref="EraserLongPressChanged"/>.</summary>
        /// <inheritdoc cref="SetEraserSinglePress"/>
        public unsafe void SetEraserLongPress(ButtonFunction function) => SetFunction(&NativeMethods.PevraNUV_SetEraserLongPress, function);

        /// <summary>Assigns the top side switch's function; the answer arrives as <see cref="TopSwitchChanged"/>.</summary>
        /// <inheritdoc cref="SetEraserSinglePress"/>
        public unsafe void SetTopSinglePress(ButtonFunction function) => SetFunction(&NativeMethods.PevraNUV_SetTopSinglePress, function);

        /// <summary>Assigns the bottom side switch's function; the answer arrives as <see cref="BottomSwitchChanged"/>.</summary>
        /// <inheritdoc cref="SetEraserSinglePress"/>
        public unsafe void SetBottomSinglePress(ButtonFunction function) => SetFunction(&NativeMethods.PevraNUV_SetBottomSinglePress, function);

        /// <summary>Assigns a radial-menu wedge's function; the answer arrives as <see cref="MenuOpChanged"/>.</summary>
        /// <exception cref="ArgumentOutOfRangeException">Not one of the ten wedges.</exception>
        /// <exception cref="InputRejectedException">The text breaks the text rule.</exception>
        /// <exception cref="InvalidOperationException">Not open, or the service is not available.</exception>
        public unsafe void SetMenuOp(Wedge wedge, ButtonFunction function)
        {
            // The library ignores any other index without a word.
            if ((uint)wedge >= WedgeCount)
                throw new ArgumentOutOfRangeException(nameof(wedge), wedge, "a wedge is 0 (East) to 9 (Outside)");
            var record = Copy.Record(function);
            lock (m_calls)
            {
                ThrowIfUnusable();
                NativeMethods.PevraNUV_SetMenuOp((int)wedge, &record);
            }
        }

        /// <summary>Turns the top switch's hover click on or off; the answer arrives as <see cref="TopSwitchChanged"/>.</summary>
        /// <exception cref="InvalidOperationException">Not open, or the service is not available.</exception>
        public unsafe void SetTopHoverClick(bool on) => SetNumber(&NativeMethods.PevraNUV_SetTopHoverClick, on ? 1u : 0u);

        /// <summary>Turns the bottom switch's hover click on or off; the answer arrives as <see cref="BottomSwitchChanged"/>.</summary>
        /// <inheritdoc cref="SetTopHoverClick"/>
        public unsafe void SetBottomHoverClick(bool on) => SetNumber(&NativeMethods.PevraNUV_SetBottomHoverClick, on ? 1u : 0u);

        /// <summary>Sets the radial menu's center right-click setting (no event reports it).</summary>
        /// <exception cref="InputRejectedException">Above 2147483647.</exception>
        /// <exception cref="InvalidOperationException">Not open, or the service is not available.</exception>
        public unsafe void SetMenuCenterRightClick(uint value) => SetNumber(&NativeMethods.PevraNUV_SetMenuCenterRightClick, InputRules.CheckNumber(value));

        /// <summary>Sets the tilt sensitivity; the answer arrives as <see cref="TiltSensitivityChanged"/>.</summary>
        /// <inheritdoc cref="SetMenuCenterRightClick"/>
        public unsafe void SetTiltSensitivity(uint value) => SetNumber(&NativeMethods.PevraNUV_SetTiltSensitivity, InputRules.CheckNumber(value));

        /// <summary>Sets the tip's pressure curve; the answer arrives as <see cref="TipSensitivityChanged"/>.</summary>
        /// <inheritdoc cref="SetMenuCenterRightClick"/>
        public unsafe void SetTipSensitivity(uint value) => SetNumber(&NativeMethods.PevraNUV_SetTipSensitivity, InputRules.CheckNumber(value));

        /// <summary>Sets the slaved display zoom map; the answer arrives as <see cref="SlavedDisplayZoomChanged"/>.</summary>
        /// <inheritdoc cref="SetTopHoverClick"/>
        public void SetSlavedDisplayZoom(ZoomMap zoom)
        {
            lock (m_calls)
            {
                ThrowIfUnusable();
                NativeMethods.PevraNUV_SetSlavedDisplayZoom(Copy.Record(zoom));
            }
        }

        /// <summary>Sets all four numbers of the zoom map to zero; the answer arrives as <see cref="SlavedDisplayZoomChanged"/>.</summary>
        /// <inheritdoc cref="SetTopHoverClick"/>
        public void ResetZoom()
        {
            lock (m_calls)
            {
                ThrowIfUnusable();
                NativeMethods.PevraNUV_ResetSlavedDisplayZoom();
            }
        }

        // The record is made first: a refused text throws before anything is sent.
        private unsafe void SetFunction(delegate*<PevraNUV_ButtonFunction*, void> setter, ButtonFunction function)
        {
            var record = Copy.Record(function);
            lock (m_calls)
            {
                ThrowIfUnusable();
                setter(&record);
            }
        }

        private unsafe void SetNumber(delegate*<uint, void> setter, uint value)
        {
            lock (m_calls)
            {
                ThrowIfUnusable();
                setter(value);
            }
        }

        // The library would queue a change and drop it at the next connect.
        private void ThrowIfUnusable()
        {
            ThrowIfDisposed();
            if (m_available == null) throw new InvalidOperationException("not open: call Open first; nothing was sent");
            if (m_available == false) throw new InvalidOperationException("the settings service is not available; nothing was sent");
        }
    }
}
