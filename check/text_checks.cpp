#include "check/text_checks.h"

namespace varkel::check {

bool validUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length;
        unsigned minimum;
        unsigned code;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, minimum = 0x80, code = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, minimum = 0x800, code = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, minimum = 0x10000, code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and beyond U+10FFFF are not UTF-8.
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

std::optional<std::string> textFault(const WrittenText& text, std::size_t limit,
                                     const std::string& what) {
    if (!text.ended) return what + " is not ended by a zero";
    if (text.bytes.size() > limit)
        return what + " \"" + text.bytes + "\" is " + std::to_string(text.bytes.size()) +
               " bytes, over its " + std::to_string(limit);
    if (!validUtf8(text.bytes)) return what + " is not valid UTF-8";
    return std::nullopt;
}

}  // namespace varkel::check
