// The envelope checker: the SNIP level 1 findings made from each segment's loop events, the
// control counts and numbers of the envelopes, and what is still open at the end.
#include "envelope/checker.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/fault.hpp"
#include "base/saturating.hpp"
#include "spec/spec.hpp"

namespace remitrax {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// True when `text` is the decimal form of `expected`: ASCII digits only, leading zeros
// allowed, no sign or blank, and a value that fits 64 bits.
bool declares_count(std::string_view text, std::uint64_t expected) {
    if (text.empty()) {
        return false;
    }
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    return value == expected;
}

}  // namespace

EnvelopeChecker::EnvelopeChecker(const Spec& spec, const Delimiters& delimiters)
    : spec_(&spec), counts_(spec.loops.size(), 0), component_(delimiters.component) {
    ends_.reserve(spec.loops.size());
    for (const LoopDef& def : spec.loops) {
        ends_.emplace_back(def.end ? std::string_view(*def.end) : std::string_view());
    }
}

std::span<const Diagnostic> EnvelopeChecker::on_events(const Segment& segment,
                                                       std::span<const Event> events) {
    diagnostics_.clear();
    // The mark is leading trivia of the first segment, so it stands before anything else.
    if (segment.index() == 0 && segment.raw().size() > 2 &&
        segment.raw().starts_with(kByteOrderMark)) {
        marked();
    }
    for (const Event& event : events) {
        switch (event.kind()) {
            // A loop without an end keeps no opener, and reports nothing when its trigger
            // opens it or when it closes.
            case EventKind::Open:
                if (!event.implicit() && ends_[event.loop()].empty()) {
                    push(event);
                } else {
                    opened(segment, event);
                }
                break;
            case EventKind::Close:
                if (!open_.empty() && ends_[open_.back().loop].empty()) {
                    open_.pop_back();
                } else {
                    closed(&segment);
                }
                break;
            case EventKind::Placed:
                saturating_increment(segments_);
                if (const std::string_view end = ends_[event.loop()];
                    !end.empty() && segment.id() == end) {
                    ended(segment, event);
                }
                break;
            case EventKind::Unplaced:
                saturating_increment(segments_);
                unplaced(segment, event);
                break;
            case EventKind::Empty:
                break;
        }
    }
    return diagnostics_;
}

void EnvelopeChecker::marked() {
    report(Rule{Rule::ByteOrderMark{}}, 0, std::nullopt, kByteOrderMark);
}

void EnvelopeChecker::unplaced(const Segment& segment, const Event& event) {
    report(Rule{Rule::UnknownSegment{std::string(segment.id())}}, event.segment(), std::nullopt,
           segment.id());
}

EnvelopeChecker::Open& EnvelopeChecker::push(const Event& event) {
    const LoopId loop = event.loop();
    std::uint64_t& count = counts_[loop];
    saturating_increment(count);
    if (!event.implicit() && !open_.empty()) {
        saturating_increment(open_.back().children);
    }
    // Every field given, so nothing is cleared first.
    const std::optional<std::uint64_t> opened_at =
        event.implicit() ? std::nullopt : std::optional<std::uint64_t>(event.segment());
    Open& record = open_.emplace_back(opened_at, std::nullopt, loop, count, segments_,
                                      std::uint64_t{0}, event.implicit(), false);
    return record;
}

void EnvelopeChecker::opened(const Segment& segment, const Event& event) {
    Open& record = push(event);
    const LoopId loop = event.loop();
    const LoopDef& def = spec_->loops[loop];
    if (event.implicit()) {
        report(Rule{Rule::ImplicitLoop{def.name, render_trigger(def.trigger),
                                       std::string(segment.id())}},
               event.segment(), std::nullopt, segment.id());
        return;
    }
    if (!def.control) {
        return;
    }
    const std::uint64_t element = def.control->opener_element;
    if (const auto text = element_text(segment.elements(), element, component_, scratch_)) {
        record.opener.emplace(*text);
    } else {
        report(Rule{Rule::ControlElementMissing{std::string(segment.id()), element}},
               event.segment(), element, {});
    }
}

void EnvelopeChecker::ended(const Segment& segment, const Event& event) {
    // The engine places a segment in the innermost loop it leaves open, and this stack
    // follows the engine's event by event.
    if (open_.empty() || open_.back().loop != event.loop()) [[unlikely]] {
        throw InternalFault("the end segment of loop " + std::to_string(event.loop()) +
                            " placed while that loop is not the innermost open one");
    }
    Open& record = open_.back();
    record.end_seen = true;
    if (const LoopDef& def = spec_->loops[event.loop()]; def.control) {
        check_end(segment, record, *def.control);
    }
}

void EnvelopeChecker::check_end(const Segment& segment, Open& record, const Control& control) {
    const std::uint64_t index = segment.index();
    const std::uint64_t expected =
        control.count == ControlCount::Children
            ? record.children
            : (segments_ >= record.segments_at_open ? segments_ - record.segments_at_open : 0);
    const std::optional<std::string> opener = std::exchange(record.opener, std::nullopt);
    const std::optional<std::uint64_t> opened_at = record.opened_at;

    // The scratch text of the count is done with before the closer may reuse it.
    const auto count =
        element_text(segment.elements(), control.count_element, component_, scratch_);
    if (!count) {
        report(Rule{Rule::ControlElementMissing{std::string(segment.id()), control.count_element}},
               index, control.count_element, {});
    } else if (!declares_count(*count, expected)) {
        report(Rule{Rule::ControlCountMismatch{std::string(segment.id()), control.count_element,
                                               std::string(*count), expected}},
               index, control.count_element, *count);
    }

    if (!opener) {
        return;
    }
    const auto closer =
        element_text(segment.elements(), control.closer_element, component_, scratch_);
    if (!closer) {
        report(Rule{Rule::ControlElementMissing{std::string(segment.id()), control.closer_element}},
               index, control.closer_element, {});
    } else if (*closer != *opener) {
        const LoopDef& def = spec_->loops[record.loop];
        report(Rule{Rule::ControlNumberMismatch{
                   opened_at,
                   {std::string(segment.id()), control.closer_element, std::string(*closer)},
                   {def.trigger.segment, control.opener_element, *opener}}},
               index, control.closer_element, *closer);
    }
}

void EnvelopeChecker::closed(const Segment* segment) {
    if (open_.empty()) [[unlikely]] {
        throw InternalFault("a loop closed with none open");
    }
    const Open& record = open_.back();
    const LoopDef& def = spec_->loops[record.loop];
    if (def.end && !record.end_seen && !record.implicit) {
        Rule rule{Rule::UnterminatedLoop{def.name, record.opened_at, *def.end}};
        // Reported before the pop, so the path ends with the loop being closed.
        if (segment != nullptr) {
            report(std::move(rule), segment->index(), std::nullopt, segment->id());
        } else {
            report(std::move(rule), std::nullopt, std::nullopt, {});
        }
    }
    open_.pop_back();
}

std::span<const Diagnostic> EnvelopeChecker::finish() {
    diagnostics_.clear();
    while (!open_.empty()) {
        closed(nullptr);
    }
    segments_ = 0;
    std::fill(counts_.begin(), counts_.end(), 0);
    return diagnostics_;
}

void EnvelopeChecker::report(Rule rule, std::optional<std::uint64_t> segment,
                             std::optional<std::uint64_t> element, std::string_view datum) {
    Diagnostic diagnostic;
    diagnostic.segment = segment;
    diagnostic.element = element;
    diagnostic.level = rule.level();
    diagnostic.rule = std::move(rule);
    diagnostic.loops.reserve(open_.size());
    for (const Open& record : open_) {
        diagnostic.loops.push_back(LoopRef{spec_->loops[record.loop].name, record.instance});
    }
    diagnostic.datum = datum;
    diagnostics_.push_back(std::move(diagnostic));
}

}  // namespace remitrax
