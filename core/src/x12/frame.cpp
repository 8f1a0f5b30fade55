// Cutting input into segment frames: leading whitespace, body and terminator.
#include "x12/frame.hpp"

#include <cstring>

namespace remitrax {

std::size_t find_terminator(std::string_view input, std::size_t from, const Delimiters& d) {
    if (!d.release) {
        const void* hit = std::memchr(input.data() + from, static_cast<unsigned char>(d.segment),
                                      input.size() - from);
        return hit == nullptr
                   ? std::string_view::npos
                   : static_cast<std::size_t>(static_cast<const char*>(hit) - input.data());
    }
    const char release = *d.release;
    for (std::size_t p = from; p < input.size(); ++p) {
        if (input[p] == release) {
            ++p;
        } else if (input[p] == d.segment) {
            return p;
        }
    }
    return std::string_view::npos;
}

namespace {

// Cuts a frame whose body starts at `body_start` (everything before it is trivia).
Cut cut_from(std::string_view input, std::size_t body_start, const Delimiters& d) {
    while (body_start < input.size() && is_trivia_space(input[body_start])) {
        ++body_start;
    }
    const std::size_t p = find_terminator(input, body_start, d);
    if (p == std::string_view::npos) {
        return {Frame{input, input.substr(body_start), false}, input.substr(input.size())};
    }
    return {Frame{input.substr(0, p + 1), input.substr(body_start, p - body_start), true},
            input.substr(p + 1)};
}

}  // namespace

std::optional<Cut> next_frame(std::string_view input, const Delimiters& delimiters) {
    if (input.empty()) {
        return std::nullopt;
    }
    return cut_from(input, 0, delimiters);
}

std::optional<Cut> first_frame(std::string_view input, const Delimiters& delimiters) {
    if (input.empty()) {
        return std::nullopt;
    }
    return cut_from(input, starts_with_bom(input) ? 3 : 0, delimiters);
}

}  // namespace remitrax
