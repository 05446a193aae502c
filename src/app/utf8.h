// Reading UTF-8 one character at a time, for texts that must tell characters from stray bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessaro {

// The length of the well-formed UTF-8 character at the start of text and its code point, or 0
// when none starts there (a stray or cut sequence, an overlong form, a surrogate, a value past
// U+10FFFF).
inline std::size_t Utf8Character(std::string_view text, uint32_t* code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (length == 0 || length > text.size()) return 0;
    uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        value = value << 6 | (byte(i) & 0x3F);
    }
    constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}

}  // namespace tessaro
