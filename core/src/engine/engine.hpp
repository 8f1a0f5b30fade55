// Placing segments in the loop tree of a spec, one at a time, as a short list of events.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/id_index.hpp"
#include "spec/loops.hpp"

namespace remitrax {

class Segment;
struct Spec;

// Numbered in this order; the number is what crosses into Python.
enum class EventKind : std::uint8_t {
    Open,      // loop, segment, implicit
    Close,     // loop
    Placed,    // loop, segment
    Unplaced,  // segment
    Empty,     // segment
};

// One outcome for one segment: a kind byte, a flag byte and two words. The first word holds
// the loop of Open, Close and Placed and the segment index of Unplaced and Empty; the second
// holds the segment index of Open and Placed.
class Event {
  public:
    // `implicit`: opened to make room for a descendant, not by its own trigger.
    static constexpr Event open(LoopId loop, std::uint64_t segment, bool implicit) {
        return {EventKind::Open, implicit ? std::uint8_t{1} : std::uint8_t{0}, loop, segment};
    }
    static constexpr Event close(LoopId loop) { return {EventKind::Close, 0, loop, 0}; }
    static constexpr Event placed(LoopId loop, std::uint64_t segment) {
        return {EventKind::Placed, 0, loop, segment};
    }
    static constexpr Event unplaced(std::uint64_t segment) {
        return {EventKind::Unplaced, 0, segment, 0};
    }
    static constexpr Event empty(std::uint64_t segment) {
        return {EventKind::Empty, 0, segment, 0};
    }

    constexpr EventKind kind() const { return kind_; }
    constexpr bool implicit() const { return flag_ != 0; }
    // The loop of Open, Close and Placed.
    constexpr LoopId loop() const { return static_cast<LoopId>(first_); }
    // The segment index of every kind but Close, which has none (zero).
    constexpr std::uint64_t segment() const {
        switch (kind_) {
            case EventKind::Open:
            case EventKind::Placed:
                return second_;
            case EventKind::Unplaced:
            case EventKind::Empty:
                return first_;
            case EventKind::Close:
                break;
        }
        return 0;
    }

    friend constexpr bool operator==(const Event&, const Event&) = default;

  private:
    constexpr Event(EventKind kind, std::uint8_t flag, std::uint64_t first, std::uint64_t second)
        : kind_(kind), flag_(flag), first_(first), second_(second) {}

    EventKind kind_;
    std::uint8_t flag_;
    std::uint64_t first_;
    std::uint64_t second_;
};

// Keeps the stack of open loops and nothing else; makes no diagnostics. The spec must outlive
// the engine. Once its lists have grown, feeding allocates nothing.
class LoopEngine {
  public:
    explicit LoopEngine(const Spec& spec);

    // Places one segment and returns the events of this call, valid until the next call. In
    // one call: the Close events of the loops left (innermost first), the Open events
    // (ancestors root first, then the loop itself), the Placed, then the Close of the loop an
    // end segment ends.
    std::span<const Event> feed(const Segment& segment);
    // The same, with the number of the segment's id in ids() already known to the caller; any
    // number from ids().size() on stands for an id the engine does not know.
    std::span<const Event> feed(const Segment& segment, std::uint32_t id);
    // At the end of the input: closes every open loop, innermost first. The engine can then
    // take a new input.
    std::span<const Event> close_all();

    // Every id a trigger, member list or end names.
    const IdIndex& ids() const { return ids_; }

  private:
    // What feed does with an id while a given loop is innermost, when the stack and the id
    // alone decide it; Search when element values or recovery may.
    // The kinds that place by the table alone come first.
    enum class MoveKind : std::uint8_t { Member, MemberEnd, Child, Search, Unplaced };
    // Kept small, so that the rows of the loops a file uses stay in cache.
    struct Move {
        std::uint32_t loop = 0;  // entered or placed in
        std::uint32_t keep = 0;  // loops left open before the loop is entered or placed in
        std::uint32_t next = 0;  // the state afterwards, for the kinds that place
        MoveKind kind = MoveKind::Search;
    };

    // What feed does with a move the table leaves open; `id` is the column of the segment's id.
    std::span<const Event> search(const Segment& segment, std::size_t id, MoveKind kind);
    // Pops and records a Close while more than `keep` loops are open.
    void close_down_to(std::size_t keep) {
        while (depth_ > keep) {
            --depth_;
            emit(Event::close(stack_[depth_]));
        }
    }
    // Brings state_ in line with the stack after a move the table did not decide.
    void settle() { state_ = depth_ == 0 ? loops_ : stack_[depth_ - 1]; }
    // Both lists are sized for the longest chain of loops; a write past that would be a
    // fault of the engine, reported rather than made.
    void emit(const Event& event) {
        if (count_ == events_.size()) [[unlikely]] {
            overflow("events");
        }
        events_[count_++] = event;
    }
    std::span<const Event> emitted() const { return {events_.data(), count_}; }
    void open(LoopId loop, std::uint64_t segment, bool implicit) {
        if (depth_ == stack_.size()) [[unlikely]] {
            overflow("open loops");
        }
        stack_[depth_++] = loop;
        emit(Event::open(loop, segment, implicit));
    }
    [[noreturn]] [[gnu::cold]] static void overflow(const char* what);
    // Keeps `keep` loops open, then opens `loop` by its own trigger and places the segment.
    void enter(LoopId loop, std::uint64_t segment, std::size_t keep) {
        close_down_to(keep);
        open(loop, segment, false);
        emit(Event::placed(loop, segment));
    }
    // Keeps `keep` loops open and places the segment in the innermost, which `ends` closes.
    void place(std::uint64_t segment, std::size_t keep, bool ends);
    // The stages of feed after the empty frame, each true when it placed the segment: a child
    // of an open loop or a root, a member or end of an open loop, implicit recovery. `id` is
    // the column of the segment's id.
    bool place_as_child(const Segment& segment, std::size_t id, std::uint64_t index);
    bool place_as_member(std::size_t id, std::uint64_t index);
    bool recover(const Segment& segment, std::size_t id, std::uint64_t index);
    // Builds moves_ row by row, each loop after its parent as in `order`; `depth` gives the
    // number of open loops with each loop innermost, by LoopId.
    void build_moves(std::span<const LoopId> order, std::span<const std::size_t> depth);
    // The children of `parent` (the roots for loops.size()) whose trigger has the id numbered
    // `id`, ascending.
    std::span<const LoopId> candidates(std::size_t parent, std::size_t id) const {
        const std::size_t at = parent * width_ + id;
        return {child_lists_.data() + child_offsets_[at],
                child_offsets_[at + 1] - child_offsets_[at]};
    }
    // Every loop whose trigger has the id numbered `id`, ascending.
    std::span<const LoopId> triggered(std::size_t id) const {
        return {triggered_.data() + triggered_offsets_[id],
                triggered_offsets_[id + 1] - triggered_offsets_[id]};
    }

    const Spec* spec_;
    // Every id a trigger, member list or end names; the tables below have one column per
    // number and a last one for any other id.
    IdIndex ids_;
    std::size_t width_ = 1;
    std::size_t loops_ = 0;  // the state of an empty stack
    std::vector<std::uint32_t> child_offsets_;
    std::vector<LoopId> child_lists_;
    std::vector<std::uint32_t> triggered_offsets_;  // per id, into triggered_
    std::vector<LoopId> triggered_;
    std::vector<std::uint8_t> member_;  // per loop and id: kMember, kEnd
    // Per innermost loop (then the empty stack) and id. The open loops are always the chain
    // from a root down to the innermost one, so it stands for the whole stack.
    std::vector<Move> moves_;
    // The open loops in [0, depth_) and this call's events in [0, count_). Both are sized
    // for the longest chain of loops, which bounds what one call can open and close.
    std::vector<LoopId> stack_;
    std::size_t depth_ = 0;
    // The row of moves_ for the current stack: its innermost loop, or loops_ when empty.
    std::size_t state_ = 0;
    std::vector<Event> events_;
    std::size_t count_ = 0;
    // The ancestor chain of implicit recovery; kept so that building it needs no storage.
    std::vector<LoopId> scratch_;
};

}  // namespace remitrax
