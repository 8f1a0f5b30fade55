// A whole input indexed as 32-bit segment body ranges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/buffer.hpp"
#include "x12/delimiters.hpp"
#include "x12/frame.hpp"
#include "x12/segment.hpp"

namespace remitrax {

// Inputs longer than this cannot be indexed: offsets are stored as 32-bit integers.
inline constexpr std::uint64_t max_document_size = 4'294'967'295u;

// One segment body: first byte, and one past the last (the terminator's offset when the
// segment is terminated, else the input length). Trivia and terminator are outside.
struct Body {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    friend bool operator==(const Body&, const Body&) = default;
};

// Where segment i lies: its raw bytes [start, end) and its body.
struct Span {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t body_start = 0;
    std::uint64_t body_end = 0;
    bool terminated = false;
    friend bool operator==(const Span&, const Span&) = default;
};

struct SizeError {
    std::uint64_t len = 0;
    std::string to_string() const;
    friend bool operator==(const SizeError&, const SizeError&) = default;
};

struct DocumentError {
    std::variant<IsaError, SizeError> kind;
    // The text of the error it holds, unchanged.
    std::string to_string() const;
    friend bool operator==(const DocumentError&, const DocumentError&) = default;
};

namespace document {

// One entry per frame, in input order, with no spare capacity. Refuses as soon as an offset
// it must store exceeds the 32-bit limit.
[[nodiscard]] std::expected<std::vector<Body>, SizeError> index(std::string_view input,
                                                                const Delimiters& delimiters);

}  // namespace document

class Segments;

class Document {
  public:
    // Reads the delimiters from the header, checks the size, then indexes. Takes ownership
    // of the bytes; on error they are released.
    [[nodiscard]] static std::expected<Document, DocumentError> parse(Buffer input);

    // Indexes with the caller's delimiters; the size is checked before indexing.
    [[nodiscard]] static std::expected<Document, SizeError> with_delimiters(
        Buffer input, const Delimiters& delimiters);

    std::string_view bytes() const { return bytes_.view(); }
    const Delimiters& delimiters() const { return delimiters_; }
    const std::vector<Body>& index() const { return index_; }
    std::size_t size() const { return index_.size(); }

    // Nothing when i is not less than the number of segments.
    std::optional<Span> span(std::size_t i) const {
        if (i >= index_.size()) {
            return std::nullopt;
        }
        return span_at(i);
    }
    // The frame of segment i, rebuilt from the index by the span rule. Inline, as span is:
    // a run looks up every segment's frame.
    std::optional<Frame> frame(std::size_t i) const {
        if (i >= index_.size()) {
            return std::nullopt;
        }
        return frame_at(i);
    }
    // frame for an i known to be less than the number of segments.
    Frame frame_at(std::size_t i) const {
        const Span s = span_at(i);
        // The index was built from these bytes, so both ranges lie inside them.
        const char* const bytes = bytes_.view().data();
        return Frame{std::string_view(bytes + s.start, s.end - s.start),
                     std::string_view(bytes + s.body_start, s.body_end - s.body_start),
                     s.terminated};
    }
    // A new Segment that borrows this document's bytes.
    std::optional<Segment> segment(std::size_t i) const;
    Segments segments() const;

  private:
    Span span_at(std::size_t i) const {
        // 64-bit arithmetic: a body ending at the 32-bit limit must not wrap to offset 0.
        Span s;
        s.body_start = index_[i].start;
        s.body_end = index_[i].end;
        s.start = i == 0 ? 0 : std::uint64_t{index_[i - 1].end} + 1;
        s.terminated = i + 1 < index_.size() || s.body_end < bytes_.size();
        s.end = s.terminated ? s.body_end + 1 : s.body_end;
        return s;
    }

    Document(Buffer bytes, std::vector<Body> index, const Delimiters& delimiters)
        : bytes_(std::move(bytes)), index_(std::move(index)), delimiters_(delimiters) {}

    Buffer bytes_;
    std::vector<Body> index_;
    Delimiters delimiters_;
};

// Iterates a Document, re-parsing each segment on demand. The document must outlive it.
class Segments {
  public:
    explicit Segments(const Document& document) : document_(&document) {}

    // The next segment; after the end, nothing, for good.
    std::optional<Segment> next();

  private:
    const Document* document_;
    std::size_t next_index_ = 0;
};

}  // namespace remitrax
