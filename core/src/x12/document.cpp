#include "x12/document.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace remitrax {

std::string SizeError::to_string() const {
    return "input of " + std::to_string(len) + " bytes exceeds the document size limit of " +
           std::to_string(max_document_size) +
           " bytes (segment offsets are stored as 32-bit integers)";
}

std::string DocumentError::to_string() const {
    return std::visit([](const auto& e) { return e.to_string(); }, kind);
}

namespace {

// Counts the bytes equal to `target`. Blocks of 255 bytes sum into one byte, a reduction the
// compiler turns into wide compares; std::count keeps a full-width sum per byte and runs
// several times slower.
std::size_t count_byte(std::string_view bytes, char target) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t len = std::min<std::size_t>(bytes.size() - i, 255);
        std::uint8_t block = 0;
        for (std::size_t j = 0; j < len; ++j) {
            block = static_cast<std::uint8_t>(block + (bytes[i + j] == target));
        }
        total += block;
        i += len;
    }
    return total;
}

// The positions of one byte value in an input, found 64 bytes at a time: a segment is some
// twenty bytes long, and a search started afresh for every one costs more than the search.
class ByteFinder {
  public:
    ByteFinder(std::string_view input, char target) : input_(input), target_(target) {}

    // The first position at or after `from` that holds the byte, or npos.
    std::size_t next(std::size_t from) {
        while (from < input_.size()) {
            const std::size_t block = from - from % 64;
            if (block != block_) {
                block_ = block;
                mask_ = mask_of(block);
            }
            const std::uint64_t ahead = mask_ & (~std::uint64_t{0} << (from - block));
            if (ahead != 0) {
                return block + static_cast<std::size_t>(std::countr_zero(ahead));
            }
            from = block + 64;
        }
        return std::string_view::npos;
    }

  private:
    // Bit i set when byte block + i holds the target; bits past the input stay 0.
    std::uint64_t mask_of(std::size_t block) const {
        const char* const p = input_.data() + block;
        if (input_.size() - block < 64) {
            std::uint64_t mask = 0;
            for (std::size_t i = 0; i < input_.size() - block; ++i) {
                mask |= std::uint64_t{p[i] == target_} << i;
            }
            return mask;
        }
#if defined(__SSE2__)
        const __m128i target = _mm_set1_epi8(target_);
        std::uint64_t mask = 0;
        for (int i = 0; i < 4; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            const auto hits =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, target)));
            mask |= std::uint64_t{hits} << (16 * i);
        }
        return mask;
#else
        std::uint64_t mask = 0;
        for (std::size_t i = 0; i < 64; ++i) {
            mask |= std::uint64_t{p[i] == target_} << i;
        }
        return mask;
#endif
    }

    std::string_view input_;
    char target_;
    std::size_t block_ = std::string_view::npos;
    std::uint64_t mask_ = 0;
};

}  // namespace

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
        out.reserve(count_byte(input, delimiters.segment) + 1);
    }
    std::size_t pos = starts_with_bom(input) ? 3 : 0;
    ByteFinder terminators(input, delimiters.segment);
    for (;;) {
        std::size_t body = pos;
        while (body < n && is_trivia_space(input[body])) {
            ++body;
        }
        // Without a release character every terminator byte ends a segment.
        const std::size_t terminator =
            delimiters.release ? find_terminator(input, body, delimiters) : terminators.next(body);
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
