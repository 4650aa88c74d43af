using System;
using System.Collections.Generic;

namespace PTabletSettings
{
    /// <summary>A value the library reported, copied into managed memory.</summary>
    /// <typeparam name="T">The value's type.</typeparam>
    public sealed class SettingEventArgs<T> : EventArgs
    {
        internal SettingEventArgs(T value)
        {
            Value = value;
        }

        /// <summary>The reported value.</summary>
        public T Value { get; }
    }

    /// <summary>A radial-menu wedge changed; all ten as they are now.</summary>
    public sealed class WedgeEventArgs : EventArgs
    {
        internal WedgeEventArgs(Wedge changed, IReadOnlyList<ButtonFunction> wedges)
        {
            Changed = changed;
            Wedges = wedges;
        }

        /// <summary>The wedge that changed.</summary>
        public Wedge Changed { get; }

        /// <summary>All ten wedges, East first (index with <see cref="Wedge"/>).</summary>
        public IReadOnlyList<ButtonFunction> Wedges { get; }
    }

    /// <summary>What an event handler of a <see cref="TabletSettings"/> threw.</summary>
    public sealed class HandlerExceptionEventArgs : EventArgs
    {
        internal HandlerExceptionEventArgs(Exception exception)
        {
            Exception = exception;
        }

        /// <summary>The exception; the link went on.</summary>
        public Exception Exception { get; }
    }
}
