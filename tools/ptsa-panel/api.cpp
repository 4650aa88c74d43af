#include "api.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "link.h"
#include "text.h"

namespace ptsa_panel {
namespace {

using Json = nlohmann::json;

struct BadRequest : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Json Body(const httplib::Request& req) {
    Json body = Json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) throw BadRequest("the body must be a JSON object");
    return body;
}

// A whole number from low to high; a fraction, a text or a number outside
// is refused (nothing wraps into the unsigned setters).
long long Whole(const Json& body, const char* field, long long low, long long high) {
    const auto value = body.find(field);
    if (value == body.end()) throw BadRequest(std::string("\"") + field + "\" is missing");
    bool fits = false;
    long long number = 0;
    if (value->is_number_unsigned()) {
        const auto u = value->get<std::uint64_t>();
        fits = high >= 0 && u <= static_cast<std::uint64_t>(high);
        number = static_cast<long long>(u);
    } else if (value->is_number_integer()) {
        number = value->get<std::int64_t>();
        fits = true;
    }
    if (!fits || number < low || number > high) {
        throw BadRequest(std::string("\"") + field + "\" must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    }
    return number;
}

std::int32_t Int32(const Json& body, const char* field) {
    return static_cast<std::int32_t>(Whole(body, field, INT32_MIN, INT32_MAX));
}

// A function and its text. The library sends a text only with keystrokes
// and applications, so a text with another code is refused, not dropped.
ptsa::ButtonFunction Function(const Json& body) {
    ptsa::ButtonFunction function = ptsa::ButtonFunction::Code(Int32(body, "function"));
    const auto text = body.find("text");
    if (text == body.end()) return function;
    if (!text->is_string()) throw BadRequest("\"text\" must be a string");
    if (function.code != std::int32_t(ptsa::Function::Keystrokes) &&
        function.code != std::int32_t(ptsa::Function::RunApplication)) {
        if (!text->get_ref<const std::string&>().empty())
            throw BadRequest("a text goes only with function 8 (keystrokes) or 23 (run an application)");
        return function;
    }
    const auto units = ptsa_cli::ToUtf16(text->get<std::string>());
    if (!units) throw BadRequest("\"text\" is not valid UTF-8");
    if (units->size() > ptsa::kMaxTextUnits) throw BadRequest("\"text\" holds at most 511 UTF-16 units");
    function.text = *units;
    return function;
}

struct NumberSetter {
    const char* name;
    void (*set)(ptsa::Session&, unsigned);
};
const NumberSetter kNumberSetters[] = {
    {"tilt", [](ptsa::Session& s, unsigned v) { s.setTiltSensitivity(v); }},
    {"tip", [](ptsa::Session& s, unsigned v) { s.setTipSensitivity(v); }},
    {"top-hover-click", [](ptsa::Session& s, unsigned v) { s.setHoverClick(ptsa::Switch::Top, v != 0); }},
    {"bottom-hover-click", [](ptsa::Session& s, unsigned v) { s.setHoverClick(ptsa::Switch::Bottom, v != 0); }},
    {"centre-right-click", [](ptsa::Session& s, unsigned v) { s.setMenuCenterRightClick(v); }},
};

struct ButtonSetter {
    const char* name;
    void (*set)(ptsa::Session&, const ptsa::ButtonFunction&);
};
const ButtonSetter kButtonSetters[] = {
    {"eraser-single", [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setEraser(ptsa::EraserPress::Single, f); }},
    {"eraser-double", [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setEraser(ptsa::EraserPress::Double, f); }},
    {"eraser-long", [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setEraser(ptsa::EraserPress::Long, f); }},
    {"top-switch", [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setSwitchPress(ptsa::Switch::Top, f); }},
    {"bottom-switch", [](ptsa::Session& s, const ptsa::ButtonFunction& f) { s.setSwitchPress(ptsa::Switch::Bottom, f); }},
};

// Registers POST /api/<name>: do reads the body and calls the library, or
// throws BadRequest before calling it; what it returns is the answer's body.
void Route(httplib::Server& server, const std::string& name, std::function<Json(const Json&)> work) {
    server.Post("/api/" + name, [work = std::move(work)](const httplib::Request& req, httplib::Response& res) {
        try {
            res.status = 202;
            res.set_content(work(Body(req)).dump(), "application/json");
        } catch (const BadRequest& error) {
            res.status = 400;
            res.set_content(std::string("bad request: ") + error.what() + "\n", "text/plain; charset=utf-8");
        }
    });
}

const Json kQueued = {{"queued", true}};

}  // namespace

void AddApi(httplib::Server& server, Link& link) {
    for (const NumberSetter& setter : kNumberSetters) {
        Route(server, setter.name, [&link, setter](const Json& body) {
            setter.set(link.session(), static_cast<unsigned>(Whole(body, "value", 0, UINT32_MAX)));
            return kQueued;
        });
    }
    for (const ButtonSetter& setter : kButtonSetters) {
        Route(server, setter.name, [&link, setter](const Json& body) {
            setter.set(link.session(), Function(body));
            return kQueued;
        });
    }
    Route(server, "wedge", [&link](const Json& body) {
        const auto index = static_cast<int>(Whole(body, "index", 0, ptsa::kWedgeCount - 1));
        link.session().setWedge(static_cast<ptsa::Wedge>(index), Function(body));
        return kQueued;
    });
    Route(server, "zoom", [&link](const Json& body) {
        const ptsa::ZoomMap zoom{Int32(body, "a"), Int32(body, "b"), Int32(body, "c"), Int32(body, "d")};
        link.session().setZoom(zoom);
        return kQueued;
    });
    Route(server, "zoom-reset", [&link](const Json&) {
        link.session().resetZoom();
        return kQueued;
    });
    Route(server, "capture-start", [&link](const Json&) {
        link.StartCapture();
        return kQueued;
    });
    Route(server, "capture-finish", [&link](const Json&) {
        return Json{{"keys", ptsa_cli::ToUtf8(link.FinishCapture())}};
    });
}

}  // namespace ptsa_panel
