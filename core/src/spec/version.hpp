// The version a spec declares, and the choice among specs by the versions files declare.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "spec/error.hpp"
#include "spec/records.hpp"
#include "x12/segment.hpp"

namespace remitrax {

// How one segment stands to a declared version.
enum class VersionMatch : std::uint8_t { OtherSegment, Match, Mismatch };

// A file declares the version when the element at `element` of the first segment with id
// `segment` holds one of `values`.
struct DeclaredVersion {
    std::string segment;              // never empty
    std::vector<std::string> values;  // non-empty, distinct, in the order written
    std::uint64_t element = 1;        // 1-based

    // Other segment when the id differs (bytes as written); otherwise a match exactly when the
    // element is present, simple, and its unescaped value is one of `values`.
    VersionMatch matches(const Segment& segment) const;
};

// The first fault of the record is reported: an empty segment id, then the version's own
// faults in the order of VersionError.
[[nodiscard]] std::expected<DeclaredVersion, SpecError> compile_version(const RawVersion& raw);

// The state of a choice among candidates, fed one segment at a time. A candidate without a
// declared version (null) can never be chosen. An earlier candidate wins whenever it is
// accepted, so the choice is made once the first candidate not rejected is accepted, or when
// every candidate is rejected.
class VersionSelection {
  public:
    // The candidates are in priority order; the declared versions must outlive the selection.
    explicit VersionSelection(std::span<const DeclaredVersion* const> candidates);

    // True when no further segment can change the choice.
    bool decided() const;
    // Decides every undecided candidate whose declaring id is this segment's.
    void feed(const Segment& segment);
    // The index of the first accepted candidate; nothing means the default. Before decided()
    // this is the answer at the end of the input.
    std::optional<std::size_t> choice() const;

  private:
    enum class State : std::uint8_t { Undecided, Accepted, Rejected };

    std::span<const DeclaredVersion* const> candidates_;
    std::vector<State> states_;
};

// What the selection reads: Segments over a Document, or a Tokenizer.
template <typename Source>
concept SegmentSource = requires(Source& source) {
    { source.next() } -> std::same_as<std::optional<Segment>>;
};

// Chooses among the candidates by reading `source` only as far as the choice needs; the
// source is the function's own, so the caller's position in the input is untouched. Returns
// the index of the chosen candidate, or nothing for the caller's default.
template <SegmentSource Source>
std::optional<std::size_t> select_version(std::span<const DeclaredVersion* const> candidates,
                                          Source source) {
    VersionSelection selection(candidates);
    while (!selection.decided()) {
        const std::optional<Segment> segment = source.next();
        if (!segment) {
            break;
        }
        selection.feed(*segment);
    }
    return selection.choice();
}

}  // namespace remitrax
