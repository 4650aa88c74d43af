// The settings the service owns: one text value per key, keys as they
// travel (two backslashes between components).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "text.h"

namespace settings_service {

inline const Text kCaptureSwitchKey = u"ComponentsDriver\\\\BTButtonHandler\\\\KeystrokeCapture";
inline const Text kCapturedKeysKey = u"ComponentsDriver\\\\BTButtonHandler\\\\CapturedKeystrokesEntities";
inline const Text kBatteryStatusKey = u"ComponentsDriver\\\\PenHandler\\\\PenTransducer\\\\PenBatteryStatus";

// A lone backslash between components becomes the two that travel, so a key
// may be written either way; longer runs are left alone.
Text NormaliseKey(const Text& key);

class Settings {
public:
    // The values compiled in from default-values.json.
    static Settings Defaults();

    // Applies a JSON object of key -> string value on top of the current
    // values. Returns an error text (nothing applied) or empty; keys the
    // settings did not hold before are reported in `newKeys`.
    std::string Apply(const std::string& json, std::vector<std::string>* newKeys);

    bool Holds(const Text& key) const { return m_values.count(key) != 0; }

    // The value a read request is answered with: empty for an unknown key.
    // A button's application path and keystrokes keys both answer with the
    // one text its function code selects (23: the path, else the
    // keystrokes), as a client keeps one text per button.
    Text Read(const Text& key) const;

    void Write(const Text& key, const Text& value) { m_values[key] = value; }

    bool Recording() const { return Stored(kCaptureSwitchKey) == u"1"; }

    std::size_t Size() const { return m_values.size(); }

private:
    Text Stored(const Text& key) const;

    std::map<Text, Text> m_values;
};

}  // namespace settings_service
