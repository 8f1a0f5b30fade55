// The loop engine: a table of moves built once per spec, then each segment placed in the loop
// tree as the events of the loops it closes and opens.
#include "engine/engine.hpp"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "base/fault.hpp"
#include "spec/spec.hpp"
#include "x12/segment.hpp"

namespace remitrax {

namespace {

constexpr std::uint8_t kMember = 1;
constexpr std::uint8_t kEnd = 2;

// Lists of loops by key, as offsets (one per key, then one past the last) into one list that
// holds the loops of each key in ascending order. `key` gives each loop's key, below `keys`.
void group(std::span<const std::size_t> key, std::size_t keys, std::vector<std::uint32_t>& offsets,
           std::vector<LoopId>& lists) {
    std::vector<std::pair<std::size_t, LoopId>> sorted;
    sorted.reserve(key.size());
    for (LoopId loop = 0; loop < key.size(); ++loop) {
        sorted.emplace_back(key[loop], loop);
    }
    std::ranges::sort(sorted);
    offsets.assign(keys + 1, 0);
    lists.reserve(key.size());
    auto next = sorted.begin();
    for (std::size_t at = 0; at < keys; ++at) {
        offsets[at] = static_cast<std::uint32_t>(lists.size());
        for (; next != sorted.end() && next->first == at; ++next) {
            lists.push_back(next->second);
        }
    }
    offsets[keys] = static_cast<std::uint32_t>(lists.size());
}

}  // namespace

LoopEngine::LoopEngine(const Spec& spec)
    : spec_(&spec), loops_(spec.loops.size()), state_(spec.loops.size()) {
    const std::size_t loops = spec.loops.size();
    std::vector<std::size_t> trigger(loops);  // the column of each loop's trigger id
    for (LoopId loop = 0; loop < loops; ++loop) {
        const LoopDef& def = spec.loops[loop];
        trigger[loop] = ids_.add(def.trigger.segment);
        for (const std::string& id : def.segments) {
            ids_.add(id);
        }
        if (def.end) {
            ids_.add(*def.end);
        }
    }
    width_ = ids_.size() + 1;
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
    // Children by (parent, id) in row-major order; the parent after the last loop is the roots.
    std::vector<std::size_t> cell(loops);
    for (LoopId loop = 0; loop < loops; ++loop) {
        cell[loop] = spec.loops[loop].parent.value_or(loops) * width_ + trigger[loop];
    }
    group(cell, (loops + 1) * width_, child_offsets_, child_lists_);
    group(trigger, width_, triggered_offsets_, triggered_);
    // Parents before children, so that each loop's depth and row can start from its parent's.
    std::vector<LoopId> order(spec.roots.begin(), spec.roots.end());
    order.reserve(loops);
    for (std::size_t at = 0; at < order.size(); ++at) {
        const std::vector<LoopId>& children = spec.loops[order[at]].children;
        order.insert(order.end(), children.begin(), children.end());
    }
    // A compiled spec has no cycle, so every loop hangs below a root.
    if (order.size() != loops) {
        throw InternalFault("a loop of the spec is not below any root");
    }
    std::vector<std::size_t> depth(loops, 1);
    std::size_t deepest = 0;
    for (const LoopId loop : order) {
        if (const auto parent = spec.loops[loop].parent) {
            depth[loop] = depth[*parent] + 1;
        }
        deepest = std::max(deepest, depth[loop]);
    }
    stack_.assign(deepest, 0);
    scratch_.reserve(deepest);
    // Closing every open loop and opening a whole chain, then a Placed and a Close.
    events_.assign(2 * deepest + 2, Event::empty(0));
    build_moves(order, depth);
}

void LoopEngine::build_moves(std::span<const LoopId> order, std::span<const std::size_t> depth) {
    // A child the table alone can enter: the first of candidates that all match on the id
    // alone, as best_match would take; Search when a condition may decide.
    const auto enter = [this](std::span<const LoopId> children, std::size_t keep) {
        const bool plain = std::ranges::all_of(children, [this](LoopId loop) {
            return spec_->loops[loop].trigger.conditions.empty();
        });
        const auto loop = static_cast<std::uint32_t>(children.front());
        return plain ? Move{loop, static_cast<std::uint32_t>(keep), loop, MoveKind::Child} : Move{};
    };
    // The row of a loop is its parent's row with the loop's own children and members laid
    // over it: a child of an inner open loop wins over anything of an outer one, and a member
    // of an inner loop over a member of an outer one, but any child wins over any member.
    // `by_child` marks the cells some child decides, which no member may take.
    moves_.assign((loops_ + 1) * width_, Move{});
    std::vector<std::uint8_t> by_child((loops_ + 1) * width_, 0);
    const std::size_t empty = loops_ * width_;
    for (std::size_t id = 0; id < width_; ++id) {
        if (const auto roots = candidates(loops_, id); !roots.empty()) {
            moves_[empty + id] = enter(roots, 0);
            by_child[empty + id] = 1;
        } else if (triggered(id).empty()) {
            // Recovery opens only loops triggered by the id.
            moves_[empty + id] = Move{0, 0, 0, MoveKind::Unplaced};
        }
    }
    for (const LoopId loop : order) {
        const LoopDef& def = spec_->loops[loop];
        const std::size_t row = loop * width_;
        const std::size_t above = def.parent.value_or(loops_) * width_;
        std::copy_n(moves_.begin() + static_cast<std::ptrdiff_t>(above), width_,
                    moves_.begin() + static_cast<std::ptrdiff_t>(row));
        std::copy_n(by_child.begin() + static_cast<std::ptrdiff_t>(above), width_,
                    by_child.begin() + static_cast<std::ptrdiff_t>(row));
        const std::size_t position = depth[loop];
        for (const LoopId child : def.children) {
            const std::size_t id = ids_.find(spec_->loops[child].trigger.segment);
            // Children sharing a trigger id share one cell, decided once by the first.
            if (const auto children = candidates(loop, id); children.front() == child) {
                moves_[row + id] = enter(children, position);
                by_child[row + id] = 1;
            }
        }
        const auto place = [&](std::string_view segment) {
            const std::size_t id = ids_.find(segment);
            if (by_child[row + id] != 0) {
                return;
            }
            const bool ends = (member_[row + id] & kEnd) != 0;
            // An end segment leaves the loop's parent innermost.
            const std::size_t next = ends ? def.parent.value_or(loops_) : loop;
            moves_[row + id] = {
                static_cast<std::uint32_t>(loop), static_cast<std::uint32_t>(position),
                static_cast<std::uint32_t>(next), ends ? MoveKind::MemberEnd : MoveKind::Member};
        };
        for (const std::string& segment : def.segments) {
            place(segment);
        }
        if (def.end) {
            place(*def.end);
        }
    }
}

std::span<const Event> LoopEngine::feed(const Segment& segment) {
    return feed(segment, ids_.find(segment.id()));
}

std::span<const Event> LoopEngine::feed(const Segment& segment, std::uint32_t found) {
    count_ = 0;
    // A spec names no empty id, so a frame with an empty id is never a member.
    const std::size_t id = std::min<std::size_t>(found, width_ - 1);
    const Move move = moves_[state_ * width_ + id];
    if (move.kind > MoveKind::Child) [[unlikely]] {
        const std::span<const Event> events = search(segment, id, move.kind);
        settle();
        return events;
    }
    // Every loop that closes lies below `keep` on the stack, whatever the kind.
    close_down_to(move.keep);
    const std::uint64_t index = segment.index();
    if (move.kind == MoveKind::Child) {
        open(move.loop, index, false);
    }
    emit(Event::placed(move.loop, index));
    if (move.kind == MoveKind::MemberEnd) {
        close_down_to(move.keep - 1);
    }
    state_ = move.next;
    return emitted();
}

void LoopEngine::overflow(const char* what) {
    throw InternalFault(std::string("the loop engine's ") + what + " outgrew the deepest chain");
}

std::span<const Event> LoopEngine::search(const Segment& segment, std::size_t id, MoveKind kind) {
    const std::uint64_t index = segment.index();
    // Nothing but whitespace between two terminators, or after the last one, wherever it
    // stands: the open loops stay open.
    if (segment.id().empty() && segment.elements().empty()) {
        emit(Event::empty(index));
        return emitted();
    }
    if (kind == MoveKind::Search && (place_as_child(segment, id, index) ||
                                     place_as_member(id, index) || recover(segment, id, index))) {
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

bool LoopEngine::recover(const Segment& segment, std::size_t id, std::uint64_t index) {
    // A loop that another id triggers cannot match.
    const std::optional<LoopId> chosen = spec_->best_match(triggered(id), segment);
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
    // it are opened. The open loops are a chain from a root, so an open ancestor can only
    // stand at its own depth in the stack: the one `depth` steps up from the parent has
    // scratch_.size() - depth loops above it, itself included.
    std::size_t keep = 0;
    std::size_t missing = scratch_.size();
    for (std::size_t depth = 0; depth < scratch_.size(); ++depth) {
        const std::size_t at = scratch_.size() - depth;
        if (at <= depth_ && stack_[at - 1] == scratch_[depth]) {
            keep = at;
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
