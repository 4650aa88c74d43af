// A message read in pieces: the piece size, the time limit of each piece,
// and how a piece is appended.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace PevraNUV::pieces {

constexpr std::uint32_t kPieceBytes = 1024;          // one read of a message
constexpr std::uint32_t kExchangeTimeoutMs = 1000;   // the write, and each piece of a reply

// Every target of this library is little-endian, so a message's UTF-16LE
// bytes on the pipe are its string's own bytes: written and read without a
// conversion or a copy of their own.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the pipes carry UTF-16LE: a big-endian target needs a conversion here"
#endif

// Appends a piece of UTF-16LE bytes; an odd last byte is dropped.
inline void AppendPiece(std::u16string& message, const unsigned char* bytes, std::uint32_t count) {
    const std::size_t size = message.size();
    message.resize(size + count / 2);
    std::memcpy(&message[size], bytes, count / 2 * sizeof(char16_t));
}

// A read that did not complete, or failed with more than "more data".
inline bool IsPieceError(const platform::IoResult& piece) {
    return !piece.complete || (!piece.ok && piece.error != platform::kErrorMoreData);
}

}  // namespace PevraNUV::pieces
