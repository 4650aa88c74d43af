// The value cache: the last value received for every handled setting, kept
// in the layouts the host receives, so that a report hands the host a
// pointer into the cache rather than a copy.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "PTabletSettingsAPI.h"

namespace PevraNUV {

constexpr int kWedgeCount = 10;  // East, Southeast, ..., Northeast, Center, Outside

struct ValueCache {
    std::u16string m_hidRouterVersion;
    std::u16string m_serviceVersion;
    PevraNUV_ButtonFunction m_eraserSingle{};
    PevraNUV_ButtonFunction m_eraserDouble{};
    PevraNUV_ButtonFunction m_eraserLong{};
    PevraNUV_SideSwitch m_topSwitch{};
    PevraNUV_SideSwitch m_bottomSwitch{};
    std::int32_t m_tipSensitivity = 0;
    std::int32_t m_tiltSensitivity = 0;
    std::int32_t m_batteryAlertDelay = 0;
    std::int32_t m_menuCenterRightClick = 0;  // 0 or 1
    PevraNUV_ButtonFunction m_menuWedges[kWedgeCount]{};
    PevraNUV_ZoomMap m_zoomMap{};
    // Pens on file by serial number, and the serial named last.
    std::map<std::u16string, PevraNUV_PenInfo, std::less<>> m_pens;
    std::u16string m_currentPenSerial;
    // The halves of a pairing waiting for each other (see PairingHalf).
    std::u16string m_penSerial;
    std::u16string m_penId;
    std::u16string m_btSerial;
    std::u16string m_btId;
    // Keystrokes captured since the last PevraNUV_FinishKeyCapture.
    std::u16string m_capturedKeys;
    // Option lists: they only grow while a client lives.
    std::map<std::u16string, std::u16string> m_runAppOptions;  // text -> the pair's first string
    std::set<std::int32_t> m_topButtonSingleOptions;
    std::set<std::int32_t> m_topButtonDoubleOptions;
    std::set<std::int32_t> m_topButtonLongOptions;
    std::set<std::int32_t> m_sideSwitchOptions;
    std::set<std::int32_t> m_radialWedgeOptions;
};

}  // namespace PevraNUV
