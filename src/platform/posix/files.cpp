// The library's folder and the log file.
#include <dlfcn.h>
#include <fcntl.h>

#include <string>

#include "platform/posix/internal.h"

namespace PevraNUV::platform {

std::wstring LibraryFolder() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash + 1);
    return std::wstring(path.begin(), path.end());
}

std::wstring UserTempFolder() { return {}; }

bool AppendToFile(const std::wstring& path, const std::string& bytes) {
    // LibraryFolder() widened the path byte by byte; narrow it the same way.
    std::string narrow(path.begin(), path.end());
    const posix::UniqueFd file(::open(narrow.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    return file && ::write(file.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

}  // namespace PevraNUV::platform
