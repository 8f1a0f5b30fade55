// Indexing a whole input as 32-bit segment body ranges, and reading segments back from the
// index.
#include "x12/document.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "base/bytes.hpp"

namespace remitrax {

std::string SizeError::to_string() const {
    return "input of " + std::to_string(len) + " bytes exceeds the document size limit of " +
           std::to_string(max_document_size) +
           " bytes (segment offsets are stored as 32-bit integers)";
}

std::string DocumentError::to_string() const {
    return std::visit([](const auto& e) { return e.to_string(); }, kind);
}

[[nodiscard]] std::expected<std::vector<Body>, SizeError> document::index(
    std::string_view input, const Delimiters& delimiters) {
    // The same cuts as first_frame and next_frame, written as one loop: this is the hot
    // path of a whole-file parse, and a call per segment returning a frame costs more than
    // the scan itself.
    std::vector<Body> out;
    const std::size_t n = input.size();
    if (n == 0) {
        return out;
    }
    if (!delimiters.release) {
        // Every terminator ends one frame, plus at most one unterminated last frame; sizing
        // the list up front saves its growth. (With a whitespace terminator an empty frame
        // can be absorbed as trivia, so this may overestimate; the list is shrunk then.)
        out.reserve(bytes::count(input, delimiters.segment) + 1);
    }
    std::size_t pos = starts_with_bom(input) ? 3 : 0;
    bytes::BlockFinder terminators(input, delimiters.segment);
    for (;;) {
        std::size_t body = pos;
        while (body < n && is_trivia_space(input[body])) {
            ++body;
        }
        // Without a release character every terminator byte ends a segment.
#if defined(REMITRAX_ABLATION_INDEX_BLOCKS)
        // One memchr per segment instead of one scan of every 64 bytes.
        const std::size_t terminator = find_terminator(input, body, delimiters);
        static_cast<void>(terminators);
#else
        const std::size_t terminator =
            delimiters.release ? find_terminator(input, body, delimiters) : terminators.next(body);
#endif
        const std::size_t end = terminator == std::string_view::npos ? n : terminator;
        if (end > max_document_size) {
            return std::unexpected(SizeError{n});
        }
        out.push_back(Body{static_cast<std::uint32_t>(body), static_cast<std::uint32_t>(end)});
        if (terminator == std::string_view::npos || terminator + 1 == n) {
            break;
        }
        pos = terminator + 1;
    }
    if (out.capacity() != out.size()) {
        out.shrink_to_fit();
    }
    return out;
}

[[nodiscard]] std::expected<Document, DocumentError> Document::parse(Buffer input) {
    auto delimiters = Delimiters::from_isa_after_leading_trivia(input.view());
    if (!delimiters) {
        return std::unexpected(DocumentError{std::move(delimiters.error())});
    }
    auto document = with_delimiters(std::move(input), *delimiters);
    if (!document) {
        return std::unexpected(DocumentError{document.error()});
    }
    return std::move(*document);
}

[[nodiscard]] std::expected<Document, SizeError> Document::with_delimiters(
    Buffer input, const Delimiters& delimiters) {
    if (input.size() > max_document_size) {
        return std::unexpected(SizeError{input.size()});
    }
    auto index = document::index(input.view(), delimiters);
    if (!index) {
        return std::unexpected(index.error());
    }
    return Document(std::move(input), std::move(*index), delimiters);
}

std::optional<Segment> Document::segment(std::size_t i) const {
    const auto f = frame(i);
    if (!f) {
        return std::nullopt;
    }
    Segment segment;
    segment.reparse(i, *f, delimiters_);
    return segment;
}

Segments Document::segments() const {
    return Segments(*this);
}

std::optional<Segment> Segments::next() {
    auto segment = document_->segment(next_index_);
    if (segment) {
        ++next_index_;
    }
    return segment;
}

}  // namespace remitrax
