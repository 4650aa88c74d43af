using System;

namespace PTabletSettings
{
    /// <summary>Which check refused a value before it was sent (<see cref="InputRejectedException.Rule"/>).</summary>
    public enum InputRule
    {
        /// <summary>The text holds a zero unit, which would end it early.</summary>
        ZeroUnit,
        /// <summary>The text holds a lone surrogate: it is not well-formed UTF-16.</summary>
        IllFormed,
        /// <summary>The text holds a mark the link reserves for its own requests.</summary>
        ReservedMark,
        /// <summary>The text is longer than the 511 units a function's text holds.</summary>
        TooLong,
        /// <summary>The number is above 2147483647, which the library could not report back.</summary>
        NumberTooLarge,
    }

    /// <summary>
    /// A setter refused its value before anything was sent. <see cref="Exception.Message"/>
    /// is the same sentence the C++ face and ptsa-cli give for the same value.
    /// </summary>
    public sealed class InputRejectedException : ArgumentException
    {
        // No paramName: ArgumentException would append it to Message.
        internal InputRejectedException(InputRule rule, string message) : base(message)
        {
            Rule = rule;
        }

        /// <summary>The check that refused the value.</summary>
        public InputRule Rule { get; }
    }

    // The one text and number rule of every face of the library: the checks,
    // their order (the first that fails wins) and their messages.
    internal static class InputRules
    {
        private const int MaxUnits = Native.PevraNUV_ButtonFunction.MaxTextUnits;

        // The service would take either for a request of the link's own.
        private const string ReadRequestMark = "{\"GetVal\":\"";
        private const string HandshakeMark = "{\"Connected\":\"?\"}";

        internal static void CheckText(string text)
        {
            int zero = text.IndexOf('\0');
            if (zero >= 0) throw Rejected(InputRule.ZeroUnit, $"the text holds a zero unit at {zero}, which would end it there");
            for (int i = 0; i < text.Length; ++i)
            {
                if (char.IsHighSurrogate(text[i]) && i + 1 < text.Length && char.IsLowSurrogate(text[i + 1])) ++i;
                else if (char.IsSurrogate(text[i]))
                    throw Rejected(InputRule.IllFormed, $"the text holds a lone surrogate at {i}: it is not well-formed UTF-16");
            }
            // The write request closes the text with "} , which completes a
            // mark that the text's end begins ({"GetVal": or {"Connected":"?),
            // so the marks are looked for in the text as the request holds it.
            string request = text + "\"}";
            if (request.IndexOf(ReadRequestMark, StringComparison.Ordinal) >= 0)
                throw Rejected(InputRule.ReservedMark, $"the text holds {ReadRequestMark}, which the link would take for a read request");
            if (request.IndexOf(HandshakeMark, StringComparison.Ordinal) >= 0)
                throw Rejected(InputRule.ReservedMark, $"the text holds {HandshakeMark}, which the link would take for the handshake");
            if (text.Length > MaxUnits)
                throw Rejected(InputRule.TooLong, $"the text is {text.Length} units long; at most {MaxUnits} fit");
        }

        internal static uint CheckNumber(uint value)
        {
            if (value > int.MaxValue)
                throw Rejected(InputRule.NumberTooLarge, $"{value} is above {int.MaxValue}, the largest value the library can report back");
            return value;
        }

        private static InputRejectedException Rejected(InputRule rule, string message) => new InputRejectedException(rule, message);
    }
}
