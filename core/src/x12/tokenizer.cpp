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
    if (next_index_ != 0 && rest_.empty()) {
        return std::nullopt;
    }
    const auto cut =
        next_index_ == 0 ? first_frame(rest_, delimiters_) : next_frame(rest_, delimiters_);
    if (!cut) {
        return std::nullopt;
    }
    rest_ = cut->rest;
    Segment segment;
    segment.reparse(next_index_, cut->frame, delimiters_);
    ++next_index_;
    return segment;
}

}  // namespace remitrax
