// Walking raw input one segment at a time, without an index or a size limit.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string_view>

#include "x12/delimiters.hpp"
#include "x12/segment.hpp"

namespace remitrax {

class Tokenizer {
  public:
    // A tokenizer over `input` with the caller's delimiters; `input` must outlive it.
    Tokenizer(std::string_view input, const Delimiters& delimiters)
        : rest_(input), delimiters_(delimiters) {}

    // Reads the delimiters from the ISA header after leading trivia; the first segment still
    // starts at offset 0 and keeps that trivia.
    [[nodiscard]] static std::expected<Tokenizer, IsaError> create(std::string_view input);

    // The next segment, parsed into a new Segment, or nothing at the end.
    std::optional<Segment> next();
    // The same parsed into `segment`, whose storage is reused; false at the end, with
    // `segment` unchanged.
    bool next(Segment& segment);

    const Delimiters& delimiters() const { return delimiters_; }

  private:
    std::string_view rest_;
    std::size_t next_index_ = 0;  // 0 also means the first frame has not been cut
    Delimiters delimiters_;
};

}  // namespace remitrax
