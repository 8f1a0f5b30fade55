// Cutting input into segment frames. Every byte belongs to exactly one frame: leading
// whitespace, body, terminator.
#pragma once

#include <optional>
#include <string_view>

#include "x12/delimiters.hpp"

namespace remitrax {

// One cut of the input; all three fields are views into it.
struct Frame {
    std::string_view raw;   // leading trivia, body and terminator, contiguous
    std::string_view body;  // after the trivia, up to (not including) the terminator
    bool terminated = false;
};

struct Cut {
    Frame frame;
    std::string_view rest;  // the input after the frame
};

// Offset of the segment terminator at or after `from`, or npos. A release byte escapes the
// byte after it, even a terminator or another release byte.
std::size_t find_terminator(std::string_view input, std::size_t from, const Delimiters& delimiters);

// Cuts the next frame; nothing for an empty input. Input without a terminator (or holding
// only whitespace) gives one unterminated frame that takes it all.
std::optional<Cut> next_frame(std::string_view input, const Delimiters& delimiters);

// As next_frame, but a byte order mark at offset 0 also belongs to the first frame's trivia.
std::optional<Cut> first_frame(std::string_view input, const Delimiters& delimiters);

}  // namespace remitrax
