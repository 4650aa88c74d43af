// The requests of the library's first handshake, as the bench service
// recorded them: the raw clients replay exactly these bytes. The file holds
// each request as a 32-bit length and its bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace PevraNUV::bench {

using Message = std::vector<char>;  // the bytes of one pipe message

inline bool WriteRecording(const std::string& path, const std::vector<Message>& messages) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = true;
    for (const Message& message : messages) {
        const std::uint32_t length = static_cast<std::uint32_t>(message.size());
        ok = ok && std::fwrite(&length, sizeof length, 1, file) == 1 &&
             std::fwrite(message.data(), 1, message.size(), file) == message.size();
    }
    return std::fclose(file) == 0 && ok;
}

inline std::vector<Message> ReadRecording(const std::string& path) {
    std::vector<Message> messages;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return messages;
    std::uint32_t length;
    while (std::fread(&length, sizeof length, 1, file) == 1) {
        Message message(length);
        if (std::fread(message.data(), 1, length, file) != length) break;
        messages.push_back(std::move(message));
    }
    std::fclose(file);
    return messages;
}

}  // namespace PevraNUV::bench
