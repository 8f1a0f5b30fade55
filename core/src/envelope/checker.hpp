// The findings of SNIP level 1: a byte order mark, segments no loop holds, loops opened
// without their trigger or closed without their end segment, and the control counts and
// numbers of the envelopes.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostic/diagnostic.hpp"
#include "engine/engine.hpp"
#include "spec/loops.hpp"
#include "x12/delimiters.hpp"
#include "x12/segment.hpp"

namespace remitrax {

struct Spec;

// Tracks the loop events of each segment with a stack of its own and reports what it finds
// as diagnostics; it never changes the events and never stops. The spec must outlive it.
class EnvelopeChecker {
  public:
    EnvelopeChecker(const Spec& spec, const Delimiters& delimiters);

    // Handles one segment with the events the loop engine gave for it. The view holds the
    // findings of this call and is valid until the next call.
    // Inline: most segments take the first branch, which needs no call.
    std::span<const Diagnostic> on(const Segment& segment, std::span<const Event> events) {
        // Most segments are placed in an open loop and are not its end segment, which an id
        // of another length cannot be. The first segment may carry the mark.
        if (events.size() == 1 && events.front().kind() == EventKind::Placed &&
            segment.index() != 0 && diagnostics_.empty() &&
            ends_[events.front().loop()].size() != segment.id().size()) {
            if (segments_ != std::numeric_limits<std::uint64_t>::max()) {
                ++segments_;
            }
            return diagnostics_;
        }
        return on_events(segment, events);
    }
    // The end of the input: closes every open loop, innermost first, and starts afresh.
    std::span<const Diagnostic> finish();

  private:
    // One open loop instance.
    struct Open {
        std::optional<std::uint64_t> opened_at;  // absent for an implicit loop
        // The opener element's text, kept for the closer check until the end segment.
        std::optional<std::string> opener;
        LoopId loop = 0;
        std::uint64_t instance = 0;
        std::uint64_t segments_at_open = 0;  // the segment counter before the opening segment
        std::uint64_t children = 0;          // explicit child instances opened directly under it
        bool implicit = false;
        bool end_seen = false;  // its end segment was placed in it while it was innermost
    };

    // Pops the innermost open loop, reporting it when it ended without its end segment: at
    // `segment` when given, else at the end of the input. Nothing open is a fault.
    void closed(const Segment* segment);
    // Adds one finding at the current open loops.
    void report(Rule rule, std::optional<std::uint64_t> segment,
                std::optional<std::uint64_t> element, std::string_view datum);
    // What `on` does for any events.
    std::span<const Diagnostic> on_events(const Segment& segment, std::span<const Event> events);
    // The findings of a byte order mark and of an unplaced segment; kept apart from the
    // event loop, which needs no room for building them.
    void marked();
    void unplaced(const Segment& segment, const Event& event);
    // Records the instance an Open event starts, counted under its parent unless implicit.
    Open& push(const Event& event);
    void opened(const Segment& segment, const Event& event);
    // The segment was placed in a loop that it is the end segment of.
    void ended(const Segment& segment, const Event& event);
    void check_end(const Segment& segment, Open& record, const Control& control);

    const Spec* spec_;
    // The end segment id of each loop, empty for a loop without one (an end id never is).
    std::vector<std::string_view> ends_;
    std::vector<Open> open_;             // outermost first
    std::vector<std::uint64_t> counts_;  // instances of each loop since the start or the finish
    std::vector<Diagnostic> diagnostics_;
    std::uint64_t segments_ = 0;  // placed and unplaced segments; empty ones are not counted
    char component_;
    // Where a composite control element is joined; kept so joining allocates once.
    std::string scratch_;
};

}  // namespace remitrax
