// Who serves the pipes: the rule of platform/trust.h, asked of Windows.
#include <aclapi.h>
#include <sddl.h>

#include "platform/trust.h"
#include "platform/win/internal.h"

namespace PevraNUV::platform {

namespace {

// A security identifier in its string form; empty when it cannot be had.
std::u16string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !::ConvertSidToStringSidW(sid, &text)) return {};
    std::u16string result(reinterpret_cast<const char16_t*>(text));
    ::LocalFree(text);
    return result;
}

// The user of a process, from its token; empty when the token cannot be read.
std::u16string UserOfProcess(HANDLE process) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
    const UniqueHandle owner(token);
    // Room for any user: one query, not a first one for the size.
    alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return {};
    return SidText(reinterpret_cast<const TOKEN_USER*>(buffer)->User.Sid);
}

// This process's user and session, which do not change while it runs: asked
// once, not on every connect (each query is a round trip to the system).
struct Caller {
    Caller() : user(UserOfProcess(::GetCurrentProcess())) {
        if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) session = 0xFFFFFFFFu;  // matches none
    }
    std::u16string user;
    DWORD session = 0;
};

// The owner of the pipe as its creator set it. A process may give an object
// no owner but its own user (or a group it may name as owner, such as an
// administrators' group), so a pipe owned by LocalSystem was created by it.
std::u16string OwnerOfPipe(HANDLE pipe) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS) {
        return {};
    }
    std::u16string user = SidText(owner);
    ::LocalFree(descriptor);
    return user;
}

}  // namespace

bool PipeServersTrusted(Handle sendOnlyPipe, Handle requestPipe) {
    ULONG server = 0, requestServer = 0;
    if (!::GetNamedPipeServerProcessId(sendOnlyPipe, &server) ||
        !::GetNamedPipeServerProcessId(requestPipe, &requestServer) || server != requestServer) {
        return false;
    }
    DWORD serverSession = 0;
    if (!::ProcessIdToSessionId(server, &serverSession)) return false;
    std::u16string serverUser;
    if (HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server)) {
        serverUser = UserOfProcess(process);
        ::CloseHandle(process);
    }
    // A standard user may not read the token of a service that runs as
    // LocalSystem: then the pipe's owner, which only its creator could set,
    // names the server's user. Both opens asked for GENERIC_READ, which
    // carries the right to read the owner.
    if (serverUser.empty()) serverUser = OwnerOfPipe(sendOnlyPipe);
    static const Caller caller;
    return MayServeSettings(serverUser, serverSession, caller.user, caller.session);
}

}  // namespace PevraNUV::platform
