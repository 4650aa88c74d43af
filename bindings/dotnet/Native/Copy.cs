using System;

namespace PTabletSettings.Native
{
    // Managed copies of what a callback receives, and records of managed values.
    internal static unsafe class Copy
    {
        // The text up to its zero unit, never past the array's end.
        private static string Text(char* units, int capacity)
        {
            int length = 0;
            while (length < capacity && units[length] != '\0') ++length;
            return new string(units, 0, length);
        }

        internal static Versions Versions(PevraNUV_Versions* v) =>
            new Versions(Text(v->hidRouterVersion, 16), Text(v->serviceVersion, 16));

        internal static PenInfo PenInfo(PevraNUV_PenInfo* p) =>
            new PenInfo(Text(p->serialNumber, 16), Text(p->penId, 16), Text(p->btId, 16), p->batteryStatus);

        internal static SideSwitch SideSwitch(PevraNUV_SideSwitch* s) => new SideSwitch(Function(&s->press), s->hoverClick != 0);

        internal static ButtonFunction Function(PevraNUV_ButtonFunction* f) =>
            new ButtonFunction(f->function, Text(f->text, PevraNUV_ButtonFunction.MaxTextUnits + 1));

        // count records from first on.
        internal static ButtonFunction[] Functions(PevraNUV_ButtonFunction* first, int count)
        {
            var functions = new ButtonFunction[count];
            for (int i = 0; i < count; ++i) functions[i] = Function(first + i);
            return functions;
        }

        internal static ZoomMap Zoom(PevraNUV_ZoomMap z) => new ZoomMap(z.a, z.b, z.c, z.d);

        internal static PevraNUV_ZoomMap Record(ZoomMap z) => new PevraNUV_ZoomMap { a = z.A, b = z.B, c = z.C, d = z.D };

        // The record a setter sends. Only the codes that carry a text send
        // one, checked by the text rule; any other code's text is dropped
        // unchecked, so that a record received can be set back as it is.
        internal static PevraNUV_ButtonFunction Record(ButtonFunction function)
        {
            if (function == null) throw new ArgumentNullException(nameof(function));
            var record = new PevraNUV_ButtonFunction { function = function.Code };
            if (function.Code == FunctionCode.Keystrokes || function.Code == FunctionCode.RunApplication)
            {
                InputRules.CheckText(function.Text);
                for (int i = 0; i < function.Text.Length; ++i) record.text[i] = function.Text[i];
            }
            return record;
        }
    }
}
