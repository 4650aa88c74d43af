#include "events.h"

#include <nlohmann/json.hpp>

#include <iostream>

#include "text.h"

namespace ptsa_panel {
namespace {

using Json = nlohmann::json;

std::string Utf8(const ptsa::Text& text) { return ptsa_cli::ToUtf8(text); }

Json Function(const ptsa::ButtonFunction& function) {
    return {{"function", function.code}, {"text", Utf8(function.text)}};
}

void Publish(Hub& hub, const std::string& key, const std::string& kind, const Json& value) {
    hub.Publish(key, kind, value.dump());
}

// The names the page uses for the buttons and lists; their order is the
// order of the face's enums.
const char* const kEraserPresses[] = {"eraser-single", "eraser-double", "eraser-long"};
const char* const kSwitches[] = {"top-switch", "bottom-switch"};
const char* const kOptionLists[] = {"run-application", "top-button-single", "top-button-double",
                                    "top-button-long",  "side-switch",       "radial-wedge"};

}  // namespace

ptsa::Handlers Handlers(Hub& hub) {
    ptsa::Handlers handlers;
    handlers.versions = [&hub](const ptsa::Versions& v) {
        Publish(hub, "versions", "versions", {{"hidRouter", Utf8(v.hidRouter)}, {"service", Utf8(v.service)}});
    };
    // One record per pen serial number; the page lists every pen it was told of.
    handlers.pen = [&hub](const ptsa::PenInfo& p) {
        Publish(hub, "pen:" + Utf8(p.serialNumber), "pen",
                {{"serial", Utf8(p.serialNumber)}, {"penId", Utf8(p.penId)}, {"btId", Utf8(p.btId)},
                 {"battery", p.batteryStatus}});
    };
    handlers.eraser = [&hub](ptsa::EraserPress press, const ptsa::ButtonFunction& f) {
        const std::string name = kEraserPresses[static_cast<int>(press)];
        Json value = Function(f);
        value["button"] = name;
        Publish(hub, name, "button", value);
    };
    handlers.sideSwitch = [&hub](ptsa::Switch side, const ptsa::SideSwitch& s) {
        const std::string name = kSwitches[static_cast<int>(side)];
        Json value = Function(s.press);
        value["button"] = name;
        value["hoverClick"] = s.hoverClick;
        Publish(hub, name, "button", value);
    };
    // The library hands all ten wedges; the page is told the one that changed.
    handlers.wedge = [&hub](ptsa::Wedge wedge, const ptsa::Wedges& all) {
        const auto index = static_cast<std::size_t>(wedge);
        Json value = Function(all[index]);
        value["index"] = index;
        Publish(hub, "wedge:" + std::to_string(index), "wedge", value);
    };
    handlers.tipSensitivity = [&hub](std::int32_t v) { Publish(hub, "tip", "number", {{"name", "tip"}, {"value", v}}); };
    handlers.tiltSensitivity = [&hub](std::int32_t v) { Publish(hub, "tilt", "number", {{"name", "tilt"}, {"value", v}}); };
    handlers.zoom = [&hub](const ptsa::ZoomMap& z) {
        Publish(hub, "zoom", "zoom", {{"a", z.a}, {"b", z.b}, {"c", z.c}, {"d", z.d}});
    };
    handlers.options = [&hub](ptsa::Options list, const std::vector<ptsa::ButtonFunction>& entries) {
        const std::string name = kOptionLists[static_cast<int>(list)];
        Json value = {{"list", name}, {"entries", Json::array()}};
        for (const ptsa::ButtonFunction& entry : entries) value["entries"].push_back(Function(entry));
        Publish(hub, "options:" + name, "options", value);
    };
    handlers.availability = [&hub](bool available) { PublishConnection(hub, available); };
    handlers.error = [](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            std::cerr << "ptsa-panel: a value was lost: " << e.what() << std::endl;
        } catch (...) {
            std::cerr << "ptsa-panel: a value was lost" << std::endl;
        }
    };
    return handlers;
}

void PublishRegistration(Hub& hub, const ptsa::Registration& r) {
    Publish(hub, "registration", "registration",
            {{"wedgeCount", r.wedgeCount},
             {"rangeA", {r.rangeA.first, r.rangeA.second}},
             {"rangeB", {r.rangeB.first, r.rangeB.second}}});
}

void PublishConnection(Hub& hub, bool available) {
    Publish(hub, "connection", "connection", {{"connected", available}});
    std::cerr << "ptsa-panel: " << (available ? "connected" : "the settings service is not available") << std::endl;
}

void PublishCapture(Hub& hub, bool recording, const ptsa::Text& keys) {
    Publish(hub, "capture", "capture", {{"recording", recording}, {"keys", Utf8(keys)}});
}

}  // namespace ptsa_panel
