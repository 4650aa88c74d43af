using System;

namespace PTabletSettings
{
    /// <summary>
    /// The function codes that carry a text in a <see cref="ButtonFunction"/>
    /// (PevraNUV_FunctionKeystrokes and PevraNUV_FunctionRunApplication of
    /// PTabletSettingsAPI.h). Every other code is the service's own number
    /// for a function and carries no text.
    /// </summary>
    public static class FunctionCode
    {
        /// <summary>Sends keystrokes; the text is the keystroke definition.</summary>
        public const int Keystrokes = 8;

        /// <summary>Runs an application; the text is the application's path.</summary>
        public const int RunApplication = 23;
    }

    /// <summary>
    /// The function of a button, a radial-menu wedge or an option: a function
    /// code and, for <see cref="FunctionCode.Keystrokes"/> and
    /// <see cref="FunctionCode.RunApplication"/>, its text. Immutable. A setter
    /// sends the text of those two codes only, after the text rule
    /// (<see cref="InputRejectedException"/>); any other code's text is not sent,
    /// so a function received from an event can be set back as it is.
    /// </summary>
    public sealed class ButtonFunction : IEquatable<ButtonFunction>
    {
        /// <summary>The most UTF-16 code units a function's text holds.</summary>
        public const int MaxTextLength = Native.PevraNUV_ButtonFunction.MaxTextUnits;

        /// <summary>A function with its code and text.</summary>
        /// <param name="code">The function code.</param>
        /// <param name="text">The keystrokes or the application's path; empty for other codes.</param>
        public ButtonFunction(int code, string? text = "")
        {
            Code = code;
            Text = text ?? "";
        }

        /// <summary>The function code.</summary>
        public int Code { get; }

        /// <summary>The keystrokes or the application's path; empty for other functions.</summary>
        public string Text { get; }

        /// <summary>The function that sends <paramref name="keys"/>.</summary>
        public static ButtonFunction Keystrokes(string keys) => new ButtonFunction(FunctionCode.Keystrokes, keys);

        /// <summary>The function that runs the application at <paramref name="path"/>.</summary>
        public static ButtonFunction RunApplication(string path) => new ButtonFunction(FunctionCode.RunApplication, path);

        /// <summary>Whether both have the same code and text.</summary>
        public bool Equals(ButtonFunction? other) => other != null && Code == other.Code && Text == other.Text;

        /// <inheritdoc/>
        public override bool Equals(object? obj) => Equals(obj as ButtonFunction);

        /// <inheritdoc/>
        public override int GetHashCode() => Code * 31 + StringComparer.Ordinal.GetHashCode(Text);

        /// <summary>The code, and the text when there is one.</summary>
        public override string ToString() => Text.Length == 0 ? Code.ToString() : $"{Code} \"{Text}\"";
    }
}
