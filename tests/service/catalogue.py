"""The 82 setting keys by id, as they travel: two backslashes between
components. Kept here apart from the service, as the oracle of its tests."""

DRIVER = r"ComponentsDriver\\"
TRANSDUCER = DRIVER + r"PenHandler\\PenTransducer\\"
ERASER = DRIVER + r"BTButtonHandler\\ButtonBTEraserEnd\\"
WEDGES = ["East", "Southeast", "South", "Southwest", "West", "Northwest", "North", "Northeast", "Center", "Outside"]

KEYS = {
    0: DRIVER + "ServiceVersion",
    1: DRIVER + "HIDRouterVersion",
    2: DRIVER + r"PenHandler\\LastQRESerialNumber",
    3: TRANSDUCER + "LastQRESerialNumber",
    4: TRANSDUCER + "PenID",
    5: DRIVER + r"BTButtonHandler\\BTModule\\LastQRESerialNumber",
    6: DRIVER + r"BTButtonHandler\\BTModule\\BTID",
    23: TRANSDUCER + r"ButtonUpperSide\\HoverClick",
    28: TRANSDUCER + r"ButtonLowerSide\\HoverClick",
    29: TRANSDUCER + r"RadialMenuHandler\\RadialMenuCenterRightClick",
    70: TRANSDUCER + "PenBatteryStatus",
    71: TRANSDUCER + "QREBatteryAlertDelay",
    72: TRANSDUCER + "TiltSensitivity",
    73: TRANSDUCER + r"ButtonTip\\PressureCurve",
    74: DRIVER + r"BTButtonHandler\\CapturedKeystrokesEntities",
    75: "RunAppOptionsList",
    76: "TopButtonSingleOptionsList",
    77: "TopButtonDoubleOptionsList",
    78: "TopButtonLongOptionsList",
    79: "SideSwitchOptionsList",
    80: "RadialWedgeOptionsList",
    81: DRIVER + "SlavedDisplayZoomMap",
}

# The fifteen button groups by base id: function, application path, name,
# keystrokes.
BUTTON_GROUPS = {
    7: ERASER + r"ButtonSingle\\",
    11: ERASER + r"ButtonDouble\\",
    15: ERASER + r"ButtonLong\\",
    19: TRANSDUCER + r"ButtonUpperSide\\ButtonSingle\\",
    24: TRANSDUCER + r"ButtonLowerSide\\ButtonSingle\\",
    **{30 + 4 * w: TRANSDUCER + r"RadialMenuHandler\\ButtonRadial" + name + r"\\ButtonSingle\\"
       for w, name in enumerate(WEDGES)},
}
for base, path in BUTTON_GROUPS.items():
    for offset, member in enumerate(["", "AppPath", "Name", "Keystrokes"]):
        KEYS[base + offset] = path + "ButtonFunction" + member

BUTTON_BASES = sorted(BUTTON_GROUPS)
OPTION_LISTS = range(75, 81)
