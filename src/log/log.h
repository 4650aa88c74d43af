// The diagnostic log: fixed English sentences to the debugger output and,
// at level 5 and above, as time-stamped records appended to a file.
#pragma once

#include <atomic>
#include <string>

namespace PevraNUV {

// Everything the library logs.
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
// After a link broke: the first failed attempt to connect again is logged
// with the connect step's own sentences, the attempts after it are not, and
// the link's return with this one.
inline constexpr const wchar_t* kLogReconnected = L"Reconnected to Service.\r\n";

// Whether anything is logged: tested at every call site before any work.
extern std::atomic<bool> g_logEnabled;

// Writes one sentence: to the debugger output, and as the record
// "HH:MM:SS.mmm -- PPPPP/TTTTT -- sentence" to the log file when one is set.
// Never throws; a record that cannot be written is lost.
void LogMessage(const wchar_t* sentence);

inline void Log(const wchar_t* sentence) {
    if (g_logEnabled.load(std::memory_order_relaxed)) LogMessage(sentence);
}

// The log levels the host chooses with PevraNUV_SetLogLevel.
constexpr int kDefaultLogLevel = 3;   // and below: nothing is logged
constexpr int kDebuggerLogLevel = 4;  // the debugger output (standard error outside Windows)
constexpr int kFileLogLevel = 5;      // and above: also the file PTabletSettingsAPI.log

// Turns logging on or off, and sets or clears the file, for a level. The
// file lies beside the library; on Windows, when that folder cannot be
// written (a library under Program Files), in the user's temporary folder.
void ApplyLogLevel(int level);

// Sets the file, and the second place for it, directly (tests). An empty
// path writes no file.
void SetLogFilePath(const std::wstring& path, const std::wstring& fallbackPath = {});

}  // namespace PevraNUV
