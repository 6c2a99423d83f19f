#include "tools/varkel-host/cli/clean_text.h"

namespace varkel::tool {

std::string cleanText(const std::string& text) {
    std::string result;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!valid || (length == 1 && (lead < 0x20 || lead == 0x7F))) {
            result += '?';
            i += 1;
        } else {
            result.append(text, i, length);
            i += length;
        }
    }
    return result;
}

}  // namespace varkel::tool
