// The diagnostic log: fixed English sentences to the debugger output and,
// when a path is set, as time-stamped records to an append-only file.
#pragma once

#include <atomic>
#include <fstream>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace PevraNUV {

// The complete list of what the library logs.
inline constexpr const wchar_t* kLogTimedOutWaiting = L"Timed out waiting for Service.\r\n";
inline constexpr const wchar_t* kLogCouldNotFindService = L"Couldn't find Service.\r\n";
inline constexpr const wchar_t* kLogReadModeFailed = L"Failed to transition to read mode.\r\n";
inline constexpr const wchar_t* kLogSyncNoConnection = L"SyncThread no connection.\r\n";
inline constexpr const wchar_t* kLogSyncReadFailed = L"SyncThread read failed.\r\n";
inline constexpr const wchar_t* kLogSyncLostConnection = L"SyncThread lost connection.\r\n";
inline constexpr const wchar_t* kLogAckReadFailed = L"Ack read failed.\r\n";
inline constexpr const wchar_t* kLogGetValueBadFormat = L"Get value: bad format.\r\n";
inline constexpr const wchar_t* kLogUnknownProtocolVersion = L"Unknown protocol version.\r\n";
inline constexpr const wchar_t* kLogSetValueBadFormat = L"Set value: bad format.\r\n";
inline constexpr const wchar_t* kLogKeyCaptureBufferTooSmall = L"Key capture buffer too small.\r\n";

// The lock of the log file. Held through a shared pointer: every writer
// keeps a reference for the length of its record.
class CPevSemaphore {
public:
    void Enter() { m_section.Enter(); }
    void Leave() { m_section.Leave(); }

private:
    platform::CriticalSection m_section;
};

// Process-wide state of the log (defined in api/library.cpp, built at load
// after the client). The path and the stream are touched only under the
// critical section of g_logLock.
extern std::wstring g_logFilePath;
extern std::wofstream g_logFile;
extern std::shared_ptr<CPevSemaphore> g_logLock;
extern std::atomic<bool> g_logEnabled;

// printf-like: formats and writes one message. Callers test g_logEnabled.
void LogMessage(const wchar_t* format, ...);

// The call-site rule in one place: logs a fixed message when logging is on.
inline void Log(const wchar_t* message) {
    if (g_logEnabled.load(std::memory_order_relaxed)) LogMessage(message);
}

// The log levels the host chooses with PevraNUV_SetLogLevel.
constexpr int kDefaultLogLevel = 3;   // and below: nothing is logged
constexpr int kDebuggerLogLevel = 4;  // the debugger output (standard error outside Windows)
constexpr int kFileLogLevel = 5;      // and above: also PTabletSettingsAPI.log beside the library
inline const wchar_t* const kLogFileName = L"PTabletSettingsAPI.log";

// Turns logging on or off, and sets or clears the file path, for a level.
void ApplyLogLevel(int level);

// Sets the file path directly (tests). An empty path writes no file.
void SetLogFilePath(const std::wstring& path);

}  // namespace PevraNUV
