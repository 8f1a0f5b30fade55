#include "engine/engine.hpp"

#include <algorithm>
#include <optional>
#include <ranges>
#include <string_view>

#include "spec/spec.hpp"
#include "x12/segment.hpp"

namespace remitrax {

std::span<const Event> LoopEngine::feed(const Segment& segment) {
    events_.clear();
    const std::uint64_t index = segment.index();
    // Nothing but whitespace between two terminators, or after the last one, wherever it
    // stands: the open loops stay open.
    if (segment.id().empty() && segment.elements().empty()) {
        events_.push_back(Event::empty(index));
        return events_;
    }
    if (!place_as_child(segment, index) && !place_as_member(segment, index) &&
        !recover(segment, index)) {
        events_.push_back(Event::unplaced(index));
    }
    return events_;
}

std::span<const Event> LoopEngine::close_all() {
    events_.clear();
    close_down_to(0);
    return events_;
}

void LoopEngine::close_down_to(std::size_t keep) {
    while (stack_.size() > keep) {
        events_.push_back(Event::close(stack_.back()));
        stack_.pop_back();
    }
}

void LoopEngine::open(LoopId loop, std::uint64_t segment, bool implicit) {
    stack_.push_back(loop);
    events_.push_back(Event::open(loop, segment, implicit));
}

void LoopEngine::enter(LoopId loop, std::uint64_t segment, std::size_t keep) {
    close_down_to(keep);
    open(loop, segment, false);
    events_.push_back(Event::placed(loop, segment));
}

bool LoopEngine::place_as_child(const Segment& segment, std::uint64_t index) {
    // Only the innermost open loop with a matching child counts, even when a loop further
    // out has a more specific one; the roots come last.
    for (std::size_t position = stack_.size(); position > 0; --position) {
        if (const auto child = spec_->matching_child(stack_[position - 1], segment)) {
            enter(*child, index, position);
            return true;
        }
    }
    if (const auto root = spec_->matching_child(std::nullopt, segment)) {
        enter(*root, index, 0);
        return true;
    }
    return false;
}

bool LoopEngine::place_as_member(const Segment& segment, std::uint64_t index) {
    const std::string_view id = segment.id();
    for (std::size_t position = stack_.size(); position > 0; --position) {
        const LoopId loop = stack_[position - 1];
        const LoopDef& def = spec_->loops[loop];
        const bool ends = def.end && *def.end == id;
        if (!ends && std::ranges::find(def.segments, id) == def.segments.end()) {
            continue;
        }
        close_down_to(position);
        events_.push_back(Event::placed(loop, index));
        if (ends) {
            close_down_to(position - 1);
        }
        return true;
    }
    return false;
}

bool LoopEngine::recover(const Segment& segment, std::uint64_t index) {
    const std::optional<LoopId> chosen =
        spec_->best_match(std::views::iota(LoopId{0}, spec_->loops.size()), segment);
    if (!chosen) {
        return false;
    }
    // The ancestor chain, parent first; it is walked backwards when opening, root first.
    scratch_.clear();
    for (std::optional<LoopId> up = spec_->loops[*chosen].parent; up;
         up = spec_->loops[*up].parent) {
        scratch_.push_back(*up);
    }
    // The deepest ancestor that is open; everything above it is left, and the ancestors below
    // it are opened.
    std::size_t keep = 0;
    std::size_t missing = scratch_.size();
    for (std::size_t depth = 0; depth < scratch_.size(); ++depth) {
        const auto found = std::ranges::find(stack_, scratch_[depth]);
        if (found != stack_.end()) {
            keep = static_cast<std::size_t>(found - stack_.begin()) + 1;
            missing = depth;
            break;
        }
    }
    close_down_to(keep);
    for (std::size_t depth = missing; depth > 0; --depth) {
        open(scratch_[depth - 1], index, true);
    }
    open(*chosen, index, false);
    events_.push_back(Event::placed(*chosen, index));
    return true;
}

}  // namespace remitrax
