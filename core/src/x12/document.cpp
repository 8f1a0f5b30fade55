#include "x12/document.hpp"

namespace remitrax {

std::string SizeError::to_string() const {
    return "input of " + std::to_string(len) + " bytes exceeds the document size limit of " +
           std::to_string(max_document_size) +
           " bytes (segment offsets are stored as 32-bit integers)";
}

std::string DocumentError::to_string() const {
    return std::visit([](const auto& e) { return e.to_string(); }, kind);
}

std::expected<std::vector<Body>, SizeError> document::index(std::string_view input,
                                                            const Delimiters& delimiters) {
    std::vector<Body> out;
    std::optional<Cut> cut = first_frame(input, delimiters);
    while (cut) {
        const auto start = static_cast<std::uint64_t>(cut->frame.body.data() - input.data());
        const std::uint64_t end = start + cut->frame.body.size();
        if (end > max_document_size) {
            return std::unexpected(SizeError{input.size()});
        }
        out.push_back(Body{static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end)});
        cut = next_frame(cut->rest, delimiters);
    }
    out.shrink_to_fit();
    return out;
}

std::expected<Document, DocumentError> Document::parse(Buffer input) {
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

std::expected<Document, SizeError> Document::with_delimiters(Buffer input,
                                                             const Delimiters& delimiters) {
    if (input.size() > max_document_size) {
        return std::unexpected(SizeError{input.size()});
    }
    auto index = document::index(input.view(), delimiters);
    if (!index) {
        return std::unexpected(index.error());
    }
    return Document(std::move(input), std::move(*index), delimiters);
}

std::optional<Span> Document::span(std::size_t i) const {
    const std::size_t n = index_.size();
    if (i >= n) {
        return std::nullopt;
    }
    // 64-bit arithmetic: a body ending at the 32-bit limit must not wrap to offset 0.
    Span s;
    s.body_start = index_[i].start;
    s.body_end = index_[i].end;
    s.start = i == 0 ? 0 : std::uint64_t{index_[i - 1].end} + 1;
    s.terminated = i + 1 < n || s.body_end < bytes_.size();
    s.end = s.terminated ? s.body_end + 1 : s.body_end;
    return s;
}

std::optional<Frame> Document::frame(std::size_t i) const {
    const auto s = span(i);
    const std::string_view bytes = bytes_.view();
    if (!s || s->start > s->end || s->end > bytes.size() || s->body_start > s->body_end ||
        s->body_end > bytes.size()) {
        return std::nullopt;
    }
    return Frame{bytes.substr(s->start, s->end - s->start),
                 bytes.substr(s->body_start, s->body_end - s->body_start), s->terminated};
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
