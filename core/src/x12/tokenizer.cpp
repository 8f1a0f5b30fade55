// Walking raw input one segment at a time, without an index or a size limit.
#include "x12/tokenizer.hpp"

namespace remitrax {

[[nodiscard]] std::expected<Tokenizer, IsaError> Tokenizer::create(std::string_view input) {
    auto delimiters = Delimiters::from_isa_after_leading_trivia(input);
    if (!delimiters) {
        return std::unexpected(std::move(delimiters.error()));
    }
    return Tokenizer(input, *delimiters);
}

std::optional<Segment> Tokenizer::next() {
    Segment segment;
    if (!next(segment)) {
        return std::nullopt;
    }
    return segment;
}

bool Tokenizer::next(Segment& segment) {
    if (next_index_ != 0 && rest_.empty()) {
        return false;
    }
    const auto cut =
        next_index_ == 0 ? first_frame(rest_, delimiters_) : next_frame(rest_, delimiters_);
    if (!cut) {
        return false;
    }
    rest_ = cut->rest;
    segment.reparse(next_index_, cut->frame, delimiters_);
    ++next_index_;
    return true;
}

}  // namespace remitrax
