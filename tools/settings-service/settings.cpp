#include "settings.h"

#include <nlohmann/json.hpp>

#include "PTabletSettingsAPI.h"  // the function codes

namespace settings_service {

// default-values.json, compiled in by the build.
extern const char* const kDefaultValuesJson;

namespace {

const Text kFunctionSuffix = u"\\\\ButtonFunction";
const Text kAppPathSuffix = u"\\\\ButtonFunctionAppPath";
const Text kKeystrokesSuffix = u"\\\\ButtonFunctionKeystrokes";

bool EndsWith(const Text& text, const Text& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

Text NormaliseKey(const Text& key) {
    Text normal;
    for (std::size_t i = 0; i < key.size();) {
        std::size_t run = 0;
        while (i + run < key.size() && key[i + run] == u'\\') ++run;
        if (run == 0) {
            normal += key[i++];
            continue;
        }
        normal.append(run == 1 ? 2 : run, u'\\');
        i += run;
    }
    return normal;
}

Settings Settings::Defaults() {
    Settings settings;
    settings.Apply(kDefaultValuesJson, nullptr);
    return settings;
}

std::string Settings::Apply(const std::string& json, std::vector<std::string>* newKeys) {
    nlohmann::json document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded()) return "not valid JSON";
    if (!document.is_object()) return "not a JSON object of key -> string value";
    std::map<Text, Text> values = m_values;
    for (const auto& [name, value] : document.items()) {
        if (!value.is_string()) return "the value of \"" + name + "\" is not a string";
        const Text key = NormaliseKey(FromUtf8(name));
        if (newKeys && !Holds(key)) newKeys->push_back(ToUtf8(key));
        values[key] = FromUtf8(value.get<std::string>());
    }
    m_values = std::move(values);
    return {};
}

Text Settings::Stored(const Text& key) const {
    auto found = m_values.find(key);
    return found == m_values.end() ? Text() : found->second;
}

Text Settings::Read(const Text& key) const {
    for (const Text* suffix : {&kAppPathSuffix, &kKeystrokesSuffix}) {
        if (!EndsWith(key, *suffix)) continue;
        const Text button = key.substr(0, key.size() - suffix->size());
        auto function = m_values.find(button + kFunctionSuffix);
        if (function == m_values.end()) break;
        const bool runsApplication = LeadingInteger(function->second) == PevraNUV_FunctionRunApplication;
        return Stored(button + (runsApplication ? kAppPathSuffix : kKeystrokesSuffix));
    }
    return Stored(key);
}

}  // namespace settings_service
