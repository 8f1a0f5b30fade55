#include "engine/engine.hpp"

#include <algorithm>
#include <optional>
#include <ranges>
#include <string_view>

#include "spec/spec.hpp"
#include "x12/segment.hpp"

namespace remitrax {

namespace {

constexpr std::uint8_t kMember = 1;
constexpr std::uint8_t kEnd = 2;

}  // namespace

LoopEngine::LoopEngine(const Spec& spec)
    : spec_(&spec), loops_(spec.loops.size()), state_(spec.loops.size()) {
    for (const LoopDef& def : spec.loops) {
        ids_.add(def.trigger.segment);
        for (const std::string& id : def.segments) {
            ids_.add(id);
        }
        if (def.end) {
            ids_.add(*def.end);
        }
    }
    width_ = ids_.size() + 1;
    const std::size_t loops = spec.loops.size();
    member_.assign(loops * width_, 0);
    for (LoopId loop = 0; loop < loops; ++loop) {
        const LoopDef& def = spec.loops[loop];
        for (const std::string& id : def.segments) {
            member_[loop * width_ + ids_.find(id)] |= kMember;
        }
        if (def.end) {
            member_[loop * width_ + ids_.find(*def.end)] |= kEnd;
        }
    }
    // Lists of (parent, id) in row-major order; the parent after the last loop is the roots.
    child_offsets_.assign((loops + 1) * width_ + 1, 0);
    for (std::size_t parent = 0; parent <= loops; ++parent) {
        const std::vector<LoopId>& children =
            parent < loops ? spec.loops[parent].children : spec.roots;
        for (std::size_t id = 0; id < width_; ++id) {
            child_offsets_[parent * width_ + id] = static_cast<std::uint32_t>(child_lists_.size());
            for (const LoopId child : children) {
                if (id + 1 < width_ && ids_.find(spec.loops[child].trigger.segment) == id) {
                    child_lists_.push_back(child);
                }
            }
        }
    }
    child_offsets_.back() = static_cast<std::uint32_t>(child_lists_.size());
    std::size_t deepest = 0;
    for (LoopId loop = 0; loop < loops; ++loop) {
        deepest = std::max(deepest, spec.ancestors(loop).size() + 1);
    }
    stack_.assign(deepest, 0);
    scratch_.reserve(deepest);
    // Closing every open loop and opening a whole chain, then a Placed and a Close.
    events_.assign(2 * deepest + 2, Event::empty(0));
    steps_.reserve((loops + 1) * width_);
    for (std::size_t state = 0; state <= loops; ++state) {
        for (std::size_t id = 0; id < width_; ++id) {
            steps_.push_back(decide(state, id));
        }
    }
}

LoopEngine::Step LoopEngine::decide(std::size_t state, std::size_t id) const {
    std::vector<LoopId> chain;  // the open loops, root first
    if (state < loops_) {
        chain = spec_->ancestors(state);
        chain.push_back(state);
    }
    // best_match takes the first of candidates that all match on the id alone.
    const auto child = [this](std::span<const LoopId> children, std::size_t keep) {
        const bool plain = std::ranges::all_of(children, [this](LoopId loop) {
            return spec_->loops[loop].trigger.conditions.empty();
        });
        const auto loop = static_cast<std::uint32_t>(children.front());
        return plain ? Step{loop, static_cast<std::uint32_t>(keep), loop, StepKind::Child} : Step{};
    };
    for (std::size_t position = chain.size(); position > 0; --position) {
        if (const auto children = candidates(chain[position - 1], id); !children.empty()) {
            return child(children, position);
        }
    }
    if (const auto roots = candidates(loops_, id); !roots.empty()) {
        return child(roots, 0);
    }
    for (std::size_t position = chain.size(); position > 0; --position) {
        const LoopId loop = chain[position - 1];
        if (const std::uint8_t role = member_[loop * width_ + id]; role != 0) {
            const bool ends = (role & kEnd) != 0;
            // An end segment leaves the loop's parent innermost.
            const std::size_t next = !ends ? loop : position > 1 ? chain[position - 2] : loops_;
            return {static_cast<std::uint32_t>(loop), static_cast<std::uint32_t>(position),
                    static_cast<std::uint32_t>(next),
                    ends ? StepKind::MemberEnd : StepKind::Member};
        }
    }
    // Recovery opens only loops triggered by the id.
    const bool triggers = std::ranges::any_of(
        spec_->loops, [&](const LoopDef& def) { return ids_.find(def.trigger.segment) == id; });
    return triggers ? Step{} : Step{0, 0, 0, StepKind::Unplaced};
}

std::span<const Event> LoopEngine::feed(const Segment& segment) {
    return feed(segment, ids_.find(segment.id()));
}

std::span<const Event> LoopEngine::feed(const Segment& segment, std::uint32_t found) {
    count_ = 0;
    // A spec names no empty id, so a frame with an empty id is never a member.
    const std::size_t id = std::min<std::size_t>(found, width_ - 1);
    const Step step = steps_[state_ * width_ + id];
    if (step.kind > StepKind::Child) [[unlikely]] {
        const std::span<const Event> events = follow(segment, id, step.kind);
        settle();
        return events;
    }
    // Every loop that closes lies below `keep` on the stack, whatever the kind.
    close_down_to(step.keep);
    const std::uint64_t index = segment.index();
    if (step.kind == StepKind::Child) {
        open(step.loop, index, false);
    }
    emit(Event::placed(step.loop, index));
    if (step.kind == StepKind::MemberEnd) {
        close_down_to(step.keep - 1);
    }
    state_ = step.next;
    return emitted();
}

std::span<const Event> LoopEngine::follow(const Segment& segment, std::size_t id, StepKind kind) {
    const std::uint64_t index = segment.index();
    // Nothing but whitespace between two terminators, or after the last one, wherever it
    // stands: the open loops stay open.
    if (segment.id().empty() && segment.elements().empty()) {
        emit(Event::empty(index));
        return emitted();
    }
    if (kind == StepKind::Search && (place_as_child(segment, id, index) ||
                                     place_as_member(id, index) || recover(segment, index))) {
        return emitted();
    }
    emit(Event::unplaced(index));
    return emitted();
}

std::span<const Event> LoopEngine::close_all() {
    count_ = 0;
    close_down_to(0);
    settle();
    return emitted();
}

void LoopEngine::place(std::uint64_t segment, std::size_t keep, bool ends) {
    close_down_to(keep);
    emit(Event::placed(stack_[depth_ - 1], segment));
    if (ends) {
        close_down_to(keep - 1);
    }
}

bool LoopEngine::place_as_child(const Segment& segment, std::size_t id, std::uint64_t index) {
    // Only triggers on the segment's own id can match, so only those children are tried.
    // Only the innermost open loop with a matching child counts, even when a loop further
    // out has a more specific one; the roots come last.
    for (std::size_t position = depth_; position > 0; --position) {
        const auto children = candidates(stack_[position - 1], id);
        if (children.empty()) {
            continue;
        }
        if (const auto child = spec_->best_match(children, segment)) {
            enter(*child, index, position);
            return true;
        }
    }
    if (const auto root = spec_->best_match(candidates(loops_, id), segment)) {
        enter(*root, index, 0);
        return true;
    }
    return false;
}

bool LoopEngine::place_as_member(std::size_t id, std::uint64_t index) {
    for (std::size_t position = depth_; position > 0; --position) {
        if (const std::uint8_t role = member_[stack_[position - 1] * width_ + id]; role != 0) {
            place(index, position, (role & kEnd) != 0);
            return true;
        }
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
        const std::span<const LoopId> opened = stack();
        const auto found = std::ranges::find(opened, scratch_[depth]);
        if (found != opened.end()) {
            keep = static_cast<std::size_t>(found - opened.begin()) + 1;
            missing = depth;
            break;
        }
    }
    close_down_to(keep);
    for (std::size_t depth = missing; depth > 0; --depth) {
        open(scratch_[depth - 1], index, true);
    }
    open(*chosen, index, false);
    emit(Event::placed(*chosen, index));
    return true;
}

}  // namespace remitrax
