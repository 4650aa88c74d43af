#!/usr/bin/env bash
# Proves that the test suite bites: applies deliberate one-line faults to
# the library, the panel and the .NET binding, one at a time, runs the tests against each and prints which
# were caught.
#
#   scripts/mutants.sh [--list] [--only N,M,...]
#
# The faults go into a worktree of its own in a temporary folder (git
# worktree add: the commit checked out, plus the uncommitted changes of the
# tracked files), never into this tree, which stays free to edit and build
# meanwhile; the worktree and its builds go on any exit. Faults in portable
# code run against the native suite (the worktree's build/linux-debug, every
# test but the valgrind and package ones, each test at most 60 s). Faults
# marked [win] (the .def file and src/platform/win) run against the Windows
# x64 suite under Wine (its build/windows-x64) and are counted apart. A fault
# is caught when its build fails or a test fails. Each fault is reverted
# before the next. Not part of the test command: the two builds first, then
# about a minute a native fault, three a Windows one.
set -uo pipefail

. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
ptsa_require native
work=$(mktemp -d)
root=$work/tree
build_root=$root/build
# Wine's server is ended on the way out only when Windows faults ran: a
# native-only run must leave alone a test command that uses Wine meanwhile.
trap 'git -C "$PTSA_ROOT" worktree remove --force "$root" >/dev/null 2>&1; rm -rf "$work"; git -C "$PTSA_ROOT" worktree prune
  [[ ${uses_wine:-0} == 1 ]] && "$PTSA_WINESERVER" -k >/dev/null 2>&1' EXIT

# The faults: "@ file" (with "[win]" for the Windows suite), "- line" as it
# stands, "+ line" as the fault has it, "# what it breaks".
cat >"$work/faults.txt" <<'FAULTS'
@ src/api/exports.cpp
-     if (index < 0 || index >= kWedgeCount) return;
+     if (index < 0 || index > kWedgeCount) return;
# SetMenuOp takes an eleventh wedge
@ src/api/exports.cpp
- PEVRANUV_SCALAR_SETTER(PevraNUV_SetTipSensitivity, TipSensitivity)
+ PEVRANUV_SCALAR_SETTER(PevraNUV_SetTipSensitivity, TiltSensitivity)
# a setter writes another setting
@ src/api/exports.cpp
-         ApplyLogLevel(kDefaultLogLevel);
+         ;
# Shutdown keeps the log level
@ src/api/exports.cpp
-     Contained([] { Queue(ComposeZoomMap(PevraNUV_ZoomMap{0, 0, 0, 0})); });
+     Contained([] { Queue(ComposeZoomMap(PevraNUV_ZoomMap{0, 0, 0, 1})); });
# the reset zoom map is not all zeros
@ src/client/pieces.h
- constexpr std::uint32_t kPieceBytes = 1024;          // one read of a message
+ constexpr std::uint32_t kPieceBytes = 1023;          // one read of a message
# a piece size off by one
@ src/client/link.cpp
-             if (exchange.waiting > 0) platform::SetEvent(sendEvent);
+             ;
# a missed notify: the rest of a batch waits
@ src/client/exchange.cpp
-             if (transfer.Await(kExchangeTimeoutMs) == platform::WaitResult::Signalled)
+             if (transfer.Await(platform::kInfinite) == platform::WaitResult::Signalled)
# a dropped time limit on a reply
@ src/client/link.cpp
-                 Log(kLogSyncReadFailed);
+                 Log(kLogSyncLostConnection);
# a wrong log sentence
@ src/client/pieces.h
-     std::memcpy(&message[size], bytes, count / 2 * sizeof(char16_t));
+     std::memcpy(&message[size], bytes + 1, count / 2 * sizeof(char16_t) - 1);
# a piece decoded one byte off
@ src/client/settings_client.cpp
-     m_outgoing.insert(m_outgoing.end(), messages.begin(), messages.end());
+     m_outgoing.insert(m_outgoing.begin(), messages.begin(), messages.end());
# a batch queued before the waiting ones
@ src/client/settings_client.h
-         std::lock_guard<std::recursive_mutex> serialized(m_lock);
+         std::unique_lock<std::recursive_mutex> serialized(m_lock, std::defer_lock);
# a lock not taken
@ src/client/connection.cpp
-     dropped.swap(m_outgoing);
+     dropped = m_outgoing;
# what was queued before Connect is sent
@ src/client/connection.cpp
-     if (!sendOnly) return fail(kLogCouldNotFindService);
+     if (!sendOnly) return fail(kLogReadModeFailed);
# a wrong log sentence
@ src/client/key_capture.cpp
-         if (capacity >= keys.size() + 1) {
+         if (capacity >= keys.size()) {
# the captured text without room for its zero
@ src/client/messages.cpp
-     std::size_t start = colon + 2;
+     std::size_t start = colon + 1;
# values cut one unit early
@ src/client/messages.cpp
-         if (reply.find(kWriteReplyMark) == std::u16string_view::npos) {
+         if (reply.find(kWriteReplyMark) != std::u16string_view::npos) {
# a write's acknowledgement refused
@ src/settings/setting_table.h
-       ReportedNumber{&ValueCache::m_tiltSensitivity, &PevraNUV_Callbacks::OnTiltSensitivity}) \
+       ReportedNumber{&ValueCache::m_tiltSensitivity, &PevraNUV_Callbacks::OnTipSensitivity}) \
# a wrong slot
@ src/settings/setting_table.h
-     X(WedgeSouthwestAppPath, 35, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunctionAppPath)", \
+     X(WedgeSouthwestAppPath, 35, uR"(ComponentsDriver\\PenHandler\\PenTransducer\\RadialMenuHandler\\ButtonRadialSouthwest\\ButtonSingle\\ButtonFunctionAppPat)", \
# a key misspelt
@ src/dispatch/handlers.cpp
-     call.hosts.NotifyHosts(&PevraNUV_Callbacks::OnMenuOp, call.cache.m_menuWedges, static_cast<std::size_t>(wedge.index));
+     call.hosts.NotifyHosts(&PevraNUV_Callbacks::OnMenuOp, call.cache.m_menuWedges, static_cast<std::size_t>(wedge.index) % 9);
# the outside wedge reported as the east one
@ src/settings/setters.cpp
-         batch.push_back(wire::ComposeReadRequest(KeyById(button.name)));
+         batch.push_back(wire::ComposeReadRequest(KeyById(button.keystrokes)));
# the keystrokes read back from the wrong key
@ src/settings/requests.cpp
-     return Concatenate({u"{\"", key, u"\":\"", value, u"\"}"});
+     return Concatenate({u"{\"", key, u"\": \"", value, u"\"}"});
# a write request spelt otherwise
@ src/dispatch/number.h
-     if (!negative && magnitude == kLimit) return std::nullopt;
+     ;
# a number read past int32
@ src/dispatch/handlers.cpp
-     std::fill(std::begin(record.text), std::end(record.text), PevraNUV_Char{0});
+     ;
# a new function code keeps the old text
@ src/dispatch/handlers.cpp
-     const std::uint32_t on = *number != 0 ? 1 : 0;
+     const std::uint32_t on = *number > 0 ? 1 : 0;
# a negative hover click reads as off
@ src/dispatch/handlers.cpp
-     call.hosts.NotifyHosts(press.slot, &(call.cache.*press.record), std::size_t{0});
+     call.hosts.NotifyHosts(press.slot, &(call.cache.*press.record), std::size_t{1});
# a wrong index for an eraser press
@ src/dispatch/handlers.cpp
-     if (cache.m_pens.empty()) return;
+     ;
# a battery status without a pen
@ src/dispatch/host_registry.cpp
- constexpr std::int32_t kRangeB[2] = {-90, 90};
+ constexpr std::int32_t kRangeB[2] = {-90, 91};
# a wrong range
@ src/dispatch/host_registry.h
-             return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b);
+             return reinterpret_cast<std::uintptr_t>(a) > reinterpret_cast<std::uintptr_t>(b);
# hosts called in the wrong order
@ src/dispatch/fixed_text.h
-     return text.substr(0, std::min(text.find(u'\0'), N - 1));
+     return text.substr(0, std::min(text.find(u'\0'), N));
# a text field without room for its zero
@ src/dispatch/option_pairs.h
-         from = close + kClose.size() + 1;
+         from = close + kClose.size();
# option pairs without a separator
@ src/log/log.cpp
-     std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d -- %05lu/%05lu -- ", now.hour, now.minute, now.second,
+     std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d -- %05lu-%05lu -- ", now.hour, now.minute, now.second,
# a record of another form
@ src/log/log.cpp
-         if (!g_logFile.fallbackPath.empty()) platform::AppendToFile(g_logFile.fallbackPath, record);
+         ;
# no second place for the log file
@ src/log/log.cpp
-     g_logEnabled.store(level >= kDebuggerLogLevel, std::memory_order_relaxed);
+     g_logEnabled.store(level > kDebuggerLogLevel, std::memory_order_relaxed);
# level 4 logs nothing
@ src/platform/posix/pipe.cpp
-     return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
+     return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 070) == 0;
# a socket directory open to others
@ src/platform/posix/pipe.cpp
-         if (length == 0 && PeerClosed(pipe.fd.get())) {
+         if (length == 0 && false) {
# a closed peer read as an empty message
@ src/platform/posix/pipe.cpp
-     UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
+     UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
# a connect that blocks on a frozen service (under the client's lock: RegisterCallbacks waits)
@ src/platform/posix/thread.cpp
-     ::pthread_join(*thread, nullptr);
+     ::pthread_detach(*thread);
# Shutdown returns before the sync thread has ended
@ src/platform/posix/event.cpp
-     if (!event->signalled.exchange(true) && event->sleepers.load() > 0 && !event->wakeupPending.exchange(true)) {
+     if (!event->signalled.exchange(true) && event->sleepers.load() > 1 && !event->wakeupPending.exchange(true)) {
# a sleeper not woken
@ src/client/link.cpp
-     if (m_state == LinkState::AwaitingService) {
+     if (false) {
# a host's connect while the thread waits for the service starts a second link
@ src/client/connection.cpp
-     const bool logFailure = !reconnect || !m_link.OutageLogged();
+     const bool logFailure = true;
# every failed attempt of an outage logged
@ src/client/outage.cpp
-     return pause == 0 ? kFirstPauseMs : std::min(2 * pause, kLongestPauseMs);
+     return kFirstPauseMs;
# pauses that never grow
@ src/client/link.cpp
-             if (exchange.outcome == Exchange::Outcome::Broken) return End::Broken;
+             if (exchange.outcome == Exchange::Outcome::Broken) return End::Failed;
# a broken exchange ends the link for good
@ src/client/exchange.cpp
-         if (broken) exchange.outcome = Exchange::Outcome::Broken;
+         exchange.outcome = Exchange::Outcome::Broken;
# a time-out or an empty reply retried
@ src/platform/trust.h
-     return serverUser == callerUser && serverSession == callerSession;
+     return serverUser == callerUser;
# a server of the caller's user in another session trusted
@ src/platform/trust.h
-     if (serverUser.empty()) return false;
+     ;
# a server whose user could not be learnt trusted
@ include/PTabletSettings.hpp
-             m_work.push_back(std::move(work));
+             m_work.push_front(std::move(work));
# the C++ face's queue drains handlers out of order
@ include/PTabletSettings.hpp
-                 if (handlers->error) Contain([&] { handlers->error(std::current_exception()); });
+                 throw;
# a handler's exception escapes the C++ face
@ include/PTabletSettings.hpp
-         const std::string name = "PTabletSettingsAPI.Session." + std::to_string(Pid());
+         const std::string name = "PTabletSettingsAPI.Session." + std::to_string(Pid()) + std::to_string(reinterpret_cast<std::uintptr_t>(&Refuse));
# the C++ face's session mark is per module: a plugin opens a second session
@ include/PTabletSettings.hpp
-             wake = !std::exchange(m_wakeAwaited, true);
+             wake = true;
# the C++ face's queue posts a wake-up per value (a burst fills a Win32 queue)
@ include/PTabletSettings.hpp
-             m_wakeAwaited = false;
+             ;
# the C++ face's queue never wakes the loop again after the first drain
@ include/PTabletSettings.hpp
-     request += u"\"}";
+     ;
# the text rule misses a mark that the write request's closing quote completes
@ include/PTabletSettings.hpp
-         if (paired) ++i;
+         if (paired || high) ++i;
# the text rule takes a lone high surrogate with the unit after it for a pair
@ include/PTabletSettings.hpp
-     if (value > kLargestNumber)
+     if (value > kLargestNumber + 1)
# the number rule lets 2147483648 through
@ include/PTabletSettings.hpp
-         if (asked >= room) return (Clock::time_point::max)();
+         ;
# key capture's deadline overflows for duration::max(): it returns at once
@ src/api/PTabletSettingsAPI.def [win]
-     PevraNUV_RegisterCallbacks @3
+     PevraNUV_RegisterCallbacks @30
# a wrong ordinal
@ src/platform/win/pipe.cpp [win]
-     DWORD mode = PIPE_READMODE_MESSAGE;
+     DWORD mode = PIPE_READMODE_BYTE;
# a pipe read as bytes, not messages
@ src/platform/win/thread.cpp [win]
-     ::WaitForSingleObject(m_thread, INFINITE);
+     ;
# Shutdown returns before the sync thread has ended
@ src/platform/win/event.cpp [win]
- bool SetEvent(Handle event) { return event != kInvalidHandle && ::SetEvent(event); }
+ bool SetEvent(Handle event) { return event != kInvalidHandle && ::ResetEvent(event); }
# an event never signalled
@ src/platform/platform.h [win]
- constexpr bool IsBrokenPipe(std::uint32_t error) { return error == 109 || error == 232 || error == 233; }
+ constexpr bool IsBrokenPipe(std::uint32_t error) { return error == 109; }
# a request pipe that Windows reports closed with another error is not retried
@ src/platform/win/trust.cpp [win]
-         !::GetNamedPipeServerProcessId(requestPipe, &requestServer) || server != requestServer) {
+         !::GetNamedPipeServerProcessId(requestPipe, &requestServer)) {
# pipes of two server processes trusted
@ src/client/connection.cpp [win]
-     if (!platform::PipeServersTrusted(sendOnly.get(), request.get())) return fail(kLogCouldNotFindService);
+     ;
# the pipes' server not checked
@ tools/ptsa-panel/guard.cpp
-     if (request.host != m_host) return Text(421, "refused: the Host must be " + m_host);
+     if (false) return Text(421, "refused: the Host must be " + m_host);
# the panel serves any Host (a foreign page could drive it)
@ tools/ptsa-panel/guard.cpp
-     if (request.origin && *request.origin != m_origin)
+     if (false)
# the panel serves a request from another site's page
@ tools/ptsa-panel/hub.cpp
-     m_pages.push_back(std::make_shared<Page>(Page{std::move(wake), 0}));
+     m_pages.push_back(std::make_shared<Page>(Page{std::move(wake), m_changes}));
# a page opened late gets no current state
@ tools/ptsa-panel/events.cpp
-     handlers.availability = [&hub](bool available) { PublishConnection(hub, available); };
+     handlers.availability = nullptr;
# the panel shows the connection's first state only
@ tools/ptsa-panel/api.cpp
-             setter.set(link.session(), static_cast<unsigned>(Whole(body, "value", 0, UINT32_MAX)));
+             setter.set(link.session(), static_cast<unsigned>(Whole(body, "value", INT32_MIN, INT64_MAX)));
# a number out of range reaches a setter
@ tools/ptsa-panel/connection.cpp
-     m_parser->body_limit(kBodyLimit);
+     m_parser->body_limit(boost::none);
# a request's body has no limit
@ tools/ptsa-panel/routes.cpp
-         if (openStreams >= kMaxStreams) {
+         if (false) {
# event streams without a cap
@ bindings/dotnet/EventPump.cs
-                 m_context.Post(pump => ((EventPump)pump!).Drain(), this);
+                 ThreadPool.QueueUserWorkItem(pump => ((EventPump)pump!).Drain(), this);
# .NET events not raised on the captured context
@ bindings/dotnet/TabletSettings.cs
-             if (m_disposed) throw new ObjectDisposedException(nameof(TabletSettings));
+             if (m_disposed) return;
# a .NET call after Dispose reaches the library
@ bindings/dotnet/Native/Copy.cs
-             for (int i = 0; i < count; ++i) functions[i] = Function(first + i);
+             for (int i = 0; i < count; ++i) functions[i] = Function(first);
# .NET reads every record of a list as the first
@ bindings/dotnet/InputRules.cs
-             if (value > int.MaxValue)
+             if (value == uint.MaxValue)
# .NET sends a number the library cannot report back
@ bindings/dotnet/Native/SessionMark.cs
-         private static string Name => "PTabletSettingsAPI.Session." + Environment.ProcessId;
+         private static string Name => "PTabletSettings.Session." + Environment.ProcessId;
# the .NET session is not the C++ face's mark
@ bindings/dotnet/TabletSettings.Setters.cs
-             if (m_available == false) throw new InvalidOperationException("the settings service is not available; nothing was sent");
+             if (m_available == false) return;
# a .NET setter while the service is away is lost without a word
@ bindings/dotnet/EventPump.cs
-                 new Thread(Run) { IsBackground = true, Name = "PTabletSettings events" }.Start();
+                 new Thread(Run) { IsBackground = false, Name = "PTabletSettings events" }.Start();
# a .NET program that never disposes does not end
@ bindings/dotnet/TabletSettings.Events.cs
-             m_pump.Post(((long)slot << 32) | (uint)index, () => Raise(slot, value));
+             m_pump.Post(DateTime.UtcNow.Ticks, () => Raise(slot, value));
# .NET events are not coalesced
FAULTS

# Applies fault N (1-based) or restores the tree; lists the faults.
cat >"$work/apply.py" <<'PY'
import pathlib, sys
root = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else ".")
work = pathlib.Path(__file__).parent
faults, current = [], None
for line in (work / "faults.txt").read_text().splitlines():
    if line.startswith("@ "):
        path, _, tag = line[2:].partition(" ")
        current = {"path": path, "win": tag == "[win]"}
        faults.append(current)
    elif line.startswith("- "):
        current["old"] = line[2:]
    elif line.startswith("+ "):
        current["new"] = line[2:]
    elif line.startswith("# "):
        current["what"] = line[2:]
saved = work / "saved"
if sys.argv[1] == "restore":
    if saved.exists():
        path, text = saved.read_text().split("\n", 1)
        pathlib.Path(path).write_text(text)
        saved.unlink()
elif sys.argv[1] == "list":
    for number, fault in enumerate(faults, 1):
        print(f"{number}\t{'win' if fault['win'] else 'native'}\t{fault['path']}\t{fault['what']}")
else:
    fault = faults[int(sys.argv[1]) - 1]
    path = root / fault["path"]
    text = path.read_text()
    if text.count(fault["old"] + "\n") != 1:
        sys.exit(f"fault {sys.argv[1]}: the line is not in {fault['path']} exactly once: {fault['old']}")
    saved.write_text(f"{path}\n{text}")
    path.write_text(text.replace(fault["old"] + "\n", fault["new"] + "\n"))
PY

if [[ ${1:-} == --list ]]; then python3 "$work/apply.py" list; exit 0; fi
git -C "$PTSA_ROOT" worktree add --detach --quiet "$root" HEAD || exit 2
git -C "$PTSA_ROOT" diff HEAD --binary | git -C "$root" apply --allow-empty || exit 2
only=
[[ ${1:-} == --only ]] && only=",${2:-},"

# Runs the suite of one build; 0 when every test passed.
run_suite() {
  local kind=$1 dir=$build_root/$2
  cmake --build "$dir" >"$work/build.log" 2>&1 || return 1
  if [[ $kind == native ]]; then
    timeout 900 ctest --test-dir "$dir" -j2 --timeout 60 -LE 'valgrind|package' >"$work/test.log" 2>&1
  else
    # One Wine server for the batch, its services started away from ctest's
    # output (a service that inherits a test's output keeps ctest waiting).
    "$PTSA_WINESERVER" -p </dev/null >/dev/null 2>&1 || true
    WINEDEBUG=-all "$PTSA_WINE" wineboot </dev/null >/dev/null 2>&1 || true
    # A whole-suite limit as well: a fault that leaves a test's service
    # running keeps ctest waiting for the output that service inherited.
    timeout 900 ctest --test-dir "$dir" -j2 --timeout 120 -LE 'package' >"$work/test.log" 2>&1
    local rc=$?
    "$PTSA_WINESERVER" -k >/dev/null 2>&1 || true
    return $rc
  fi
}

# The suites of the selected faults only, each first without a fault.
kinds=$(python3 "$work/apply.py" list | while IFS=$'\t' read -r number kind _; do
  [[ -z $only || $only == *",$number,"* ]] && echo "$kind"
done | sort -u)
[[ $kinds == *win* ]] && uses_wine=1
for kind in $kinds; do
  dir=linux-debug
  [[ $kind == win ]] && dir=windows-x64
  echo "== $kind faults against $build_root/$dir"
  cmake --preset "$dir" -S "$root" -B "$build_root/$dir" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 2; }
  if ! run_suite "$kind" "$dir"; then echo "the $kind suite fails without a fault: fix that first"; exit 2; fi
done

declare -A caught total
while IFS=$'\t' read -r number kind path what; do
  [[ -n $only && $only != *",$number,"* ]] && continue
  dir=linux-debug
  [[ $kind == win ]] && dir=windows-x64
  python3 "$work/apply.py" "$number" "$root" || exit 2
  start=$(date +%s)
  if run_suite "$kind" "$dir"; then
    verdict="SURVIVED"
  else
    verdict=caught
    caught[$kind]=$((${caught[$kind]:-0} + 1))
    grep -q 'FAILED:' "$work/build.log" && verdict="caught (build)"
  fi
  total[$kind]=$((${total[$kind]:-0} + 1))
  python3 "$work/apply.py" restore
  printf '%2d %-6s %-16s %-36s %s (%d s)\n' "$number" "$kind" "$verdict" "$path" "$what" $(($(date +%s) - start))
done < <(python3 "$work/apply.py" list)
# Rebuild the unfaulted tree.
for kind in native win; do
  [[ -n ${total[$kind]:-} ]] && echo "$kind: ${caught[$kind]:-0}/${total[$kind]} caught"
done
