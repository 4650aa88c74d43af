// Composing requests.
#include "settings/requests.h"

#include <initializer_list>
#include <iterator>

namespace PevraNUV::wire {

namespace {

std::u16string Concatenate(std::initializer_list<std::u16string_view> parts) {
    std::size_t size = 0;
    for (std::u16string_view part : parts) size += part.size();
    std::u16string text;
    text.reserve(size);
    for (std::u16string_view part : parts) text += part;
    return text;
}

}  // namespace

std::u16string ComposeReadRequest(std::u16string_view key) { return Concatenate({kReadRequestOpen, key, u"\"}"}); }

std::u16string ComposeWriteRequest(std::u16string_view key, std::u16string_view value) {
    return Concatenate({u"{\"", key, u"\":\"", value, u"\"}"});
}

std::u16string ComposeZoomMapWrite(std::u16string_view key, std::int32_t a, std::int32_t b, std::int32_t c,
                                   std::int32_t d) {
    return Concatenate({u"{\"", key, u"\":\"{", FormatSigned(a), u",", FormatSigned(b), u",", FormatSigned(c), u",",
                        FormatSigned(d), u"}\"}"});
}

std::u16string FormatUnsigned(std::uint32_t number) {
    char16_t digits[10];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + number % 10);
        number /= 10;
    } while (number != 0);
    return std::u16string(std::make_reverse_iterator(digits + count), std::make_reverse_iterator(digits));
}

std::u16string FormatSigned(std::int32_t number) {
    // The magnitude of INT32_MIN fits in 32 unsigned bits.
    const std::uint32_t magnitude =
        number < 0 ? 0u - static_cast<std::uint32_t>(number) : static_cast<std::uint32_t>(number);
    return number < 0 ? u"-" + FormatUnsigned(magnitude) : FormatUnsigned(magnitude);
}

}  // namespace PevraNUV::wire
