// What a plug-in's texts must be: valid UTF-8, ended within the buffer a
// host hands it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace varkel::check {

bool validUtf8(const std::string& text);

// A text as a plug-in wrote it into a buffer: its bytes up to the first
// zero, and whether a zero came at all.
struct WrittenText {
    std::string bytes;
    bool ended = true;
};

// What is wrong with a text that had limit characters (not counting its
// zero) to fit in, named what; nothing when it is right.
std::optional<std::string> textFault(const WrittenText& text, std::size_t limit,
                                     const std::string& what);

}  // namespace varkel::check
