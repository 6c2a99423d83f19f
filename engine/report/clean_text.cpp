#include "engine/report/clean_text.h"

namespace varkel::engine {

namespace {

// The length of the UTF-8 sequence at text[at] when it is one character a
// terminal shows as such, else 0: broken, overlong and surrogate sequences,
// code points past U+10FFFF, and C0 and C1 control characters.
std::size_t printableLength(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return lead < 0x20 || lead == 0x7F ? 0 : 1;
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || at + length > text.size()) return 0;
    char32_t code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool valid = code >= kSmallest[length] && code <= 0x10FFFF &&
                       (code < 0xD800 || code > 0xDFFF) && (code < 0x80 || code > 0x9F);
    return valid ? length : 0;
}

}  // namespace

std::string cleanText(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = printableLength(text, i);
        if (length == 0) {
            result += '?';
            i += 1;
        } else {
            result.append(text, i, length);
            i += length;
        }
    }
    return result;
}

}  // namespace varkel::engine
