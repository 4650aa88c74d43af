#include "api.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
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

Json Body(const std::string& text) {
    Json body = Json::parse(text, nullptr, false);
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

// A function and its text. What the text may hold is the C++ face's rule
// (its setters throw ptsa::InputRejected), as for every face; a text with
// a code that carries none is dropped there, so that a record the page was
// handed (an option list's entry) can be set back as it came.
ptsa::ButtonFunction Function(const Json& body) {
    ptsa::ButtonFunction function = ptsa::ButtonFunction::Code(Int32(body, "function"));
    const auto text = body.find("text");
    if (text == body.end()) return function;
    if (!text->is_string()) throw BadRequest("\"text\" must be a string");
    const auto units = ptsa_cli::ToUtf16(text->get<std::string>());
    if (!units) throw BadRequest("\"text\" is not valid UTF-8");
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

// One route: reads the body and calls the library, or throws BadRequest
// before calling it; what it returns is the answer's body.
using Work = std::function<Json(Link&, const Json&)>;

const Json kQueued = {{"queued", true}};

std::map<std::string, Work> Routes() {
    std::map<std::string, Work> routes;
    for (const NumberSetter& setter : kNumberSetters) {
        routes[setter.name] = [setter](Link& link, const Json& body) {
            setter.set(link.session(), static_cast<unsigned>(Whole(body, "value", 0, UINT32_MAX)));
            return kQueued;
        };
    }
    for (const ButtonSetter& setter : kButtonSetters) {
        routes[setter.name] = [setter](Link& link, const Json& body) {
            setter.set(link.session(), Function(body));
            return kQueued;
        };
    }
    routes["wedge"] = [](Link& link, const Json& body) {
        const auto index = static_cast<int>(Whole(body, "index", 0, ptsa::kWedgeCount - 1));
        link.session().setWedge(static_cast<ptsa::Wedge>(index), Function(body));
        return kQueued;
    };
    routes["zoom"] = [](Link& link, const Json& body) {
        const ptsa::ZoomMap zoom{Int32(body, "a"), Int32(body, "b"), Int32(body, "c"), Int32(body, "d")};
        link.session().setZoom(zoom);
        return kQueued;
    };
    routes["zoom-reset"] = [](Link& link, const Json&) {
        link.session().resetZoom();
        return kQueued;
    };
    routes["capture-start"] = [](Link& link, const Json&) {
        link.StartCapture();
        return kQueued;
    };
    routes["capture-finish"] = [](Link& link, const Json&) { return Json{{"keys", ptsa_cli::ToUtf8(link.FinishCapture())}}; };
    return routes;
}

}  // namespace

Reply CallApi(Link& link, const std::string& name, const std::string& body) {
    static const std::map<std::string, Work> routes = Routes();
    const auto route = routes.find(name);
    if (route == routes.end()) return Text(404, "no such setting: " + name);
    try {
        return Reply{202, "application/json", route->second(link, Body(body)).dump(), {}};
    } catch (const BadRequest& error) {
        return Text(400, std::string("bad request: ") + error.what());
    } catch (const ptsa::InputRejected& error) {
        // The rule's own message, which names the case.
        return Text(400, error.what());
    }
}

}  // namespace ptsa_panel
