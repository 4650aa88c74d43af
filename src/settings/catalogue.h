// The setting catalogue: the 82 setting keys with their ids, and the ordered
// table of the 67 keys that have a value handler.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace PevraNUV {

class SettingsClient;

// Handles one received value of its key, under the client's lock.
using ValueHandler = std::function<void(SettingsClient& client, const std::u16string& value)>;
using HandlerEntry = std::pair<std::u16string, ValueHandler>;

// id -> key, exactly as the key travels: two backslashes between components.
extern const std::map<int, std::u16string> KeyById;
// The 67 handled keys in the order of the handshake's read requests.
extern const std::vector<HandlerEntry> HandlerTable;

constexpr int kSettingCount = 82;

// Ids the setters write.
constexpr int kEraserSingleId = 7;
constexpr int kEraserDoubleId = 11;
constexpr int kEraserLongId = 15;
constexpr int kTopSwitchId = 19;
constexpr int kTopHoverClickId = 23;
constexpr int kBottomSwitchId = 24;
constexpr int kBottomHoverClickId = 28;
constexpr int kMenuCenterRightClickId = 29;
constexpr int kWedgeCount = 10;  // East, Southeast, ..., Center, Outside
constexpr int WedgeBaseId(int index) { return 30 + 4 * index; }
constexpr int kTiltSensitivityId = 72;
constexpr int kTipSensitivityId = 73;
constexpr int kCapturedKeystrokesId = 74;
constexpr int kZoomMapId = 81;

// A button group with base id f: f the function code, f + 1 the application
// path, f + 2 the function name, f + 3 the keystroke definition.
constexpr int kAppPathOffset = 1;
constexpr int kFunctionNameOffset = 2;
constexpr int kKeystrokesOffset = 3;
constexpr int kHandlerCount = 67;

// Strict lookup: throws std::out_of_range for an id outside 0 to 81.
const std::u16string& KeyOf(int id);

// Builders for the load-time globals (see library.cpp for the order).
std::map<int, std::u16string> BuildKeyById();
std::vector<HandlerEntry> BuildHandlerTable();

// The ids of HandlerTable, in its order.
const std::vector<int>& HandlerTableIds();

// Binds a handled id to its value handler (dispatch/handlers.cpp).
ValueHandler HandlerForSetting(int id);

}  // namespace PevraNUV
