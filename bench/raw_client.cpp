// RawClient over Unix sequenced-packet sockets, or Win32 named pipes.
#include "raw_client.h"

#include <string>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#endif

namespace PevraNUV::bench {

namespace {

std::vector<char> Encode(const std::u16string& text) {
    std::vector<char> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

std::u16string Decode(const char* bytes, std::size_t count) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < count; i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}

}  // namespace

#ifdef _WIN32

struct RawClient::Pipes {
    HANDLE push = INVALID_HANDLE_VALUE;
    HANDLE request = INVALID_HANDLE_VALUE;
};

namespace {

HANDLE OpenPipe(const wchar_t* name, DWORD access) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    std::wstring path = std::wstring(L"\\\\.\\pipe\\") + name + std::to_wstring(session);
    HANDLE pipe = CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (pipe != INVALID_HANDLE_VALUE) SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    return pipe;
}

bool ReadMessage(HANDLE pipe, std::u16string& text) {
    std::vector<char> bytes;
    char piece[1024];
    for (;;) {
        DWORD got = 0;
        BOOL ok = ReadFile(pipe, piece, sizeof piece, &got, nullptr);
        bytes.insert(bytes.end(), piece, piece + got);
        if (ok) break;
        if (GetLastError() != ERROR_MORE_DATA) return false;
    }
    text = Decode(bytes.data(), bytes.size());
    return true;
}

}  // namespace

RawClient::RawClient() : m_pipes(new Pipes) {
    m_pipes->push = OpenPipe(L"PevraSettingsSyncherSendOnly_", GENERIC_READ | FILE_WRITE_ATTRIBUTES);
    m_pipes->request = OpenPipe(L"PevraSettingsSyncher_", GENERIC_READ | GENERIC_WRITE);
}

RawClient::~RawClient() {
    if (m_pipes->push != INVALID_HANDLE_VALUE) CloseHandle(m_pipes->push);
    if (m_pipes->request != INVALID_HANDLE_VALUE) CloseHandle(m_pipes->request);
    delete m_pipes;
}

bool RawClient::Connected() const {
    return m_pipes->push != INVALID_HANDLE_VALUE && m_pipes->request != INVALID_HANDLE_VALUE;
}

bool RawClient::Exchange(const std::u16string& request, std::u16string& reply) {
    std::vector<char> bytes = Encode(request);
    DWORD written = 0;
    if (!WriteFile(m_pipes->request, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) return false;
    return ReadMessage(m_pipes->request, reply);
}

bool RawClient::ReceivePush(std::u16string& push) { return ReadMessage(m_pipes->push, push); }

#else

struct RawClient::Pipes {
    int push = -1;
    int request = -1;
};

namespace {

int OpenPipe(const std::string& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = "/tmp/pevra-" + std::to_string(getuid()) + "/" + name + std::to_string(getsid(0));
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        fd = -1;
    }
    return fd;
}

bool ReadMessage(int fd, std::u16string& text) {
    static thread_local std::vector<char> buffer(1 << 20);
    ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
    if (got <= 0) return false;
    text = Decode(buffer.data(), static_cast<std::size_t>(got));
    return true;
}

}  // namespace

RawClient::RawClient() : m_pipes(new Pipes) {
    m_pipes->push = OpenPipe("PevraSettingsSyncherSendOnly_");
    m_pipes->request = OpenPipe("PevraSettingsSyncher_");
}

RawClient::~RawClient() {
    if (m_pipes->push >= 0) close(m_pipes->push);
    if (m_pipes->request >= 0) close(m_pipes->request);
    delete m_pipes;
}

bool RawClient::Connected() const { return m_pipes->push >= 0 && m_pipes->request >= 0; }

bool RawClient::Exchange(const std::u16string& request, std::u16string& reply) {
    std::vector<char> bytes = Encode(request);
    if (send(m_pipes->request, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        return false;
    return ReadMessage(m_pipes->request, reply);
}

bool RawClient::ReceivePush(std::u16string& push) { return ReadMessage(m_pipes->push, push); }

#endif

}  // namespace PevraNUV::bench
