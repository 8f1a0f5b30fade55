// Loop triggers: matching a segment against a trigger, and the check that no two sibling loops
// could open on the same segment without one being the more specific.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "base/text.hpp"
#include "spec/spec.hpp"
#include "x12/segment.hpp"

namespace remitrax {

bool Trigger::matches(const Segment& candidate) const {
    if (candidate.id() != segment) {
        return false;
    }
    const std::span<const Element> elements = candidate.elements();
    for (const auto& [position, value] : conditions) {
        // Checked before subtracting, so no position wraps around.
        if (position == 0 || position > elements.size()) {
            return false;
        }
        const Element& element = elements[static_cast<std::size_t>(position - 1)];
        if (element.is_composite() || element.value().bytes() != value) {
            return false;
        }
    }
    return true;
}

std::optional<LoopId> Spec::matching_child(std::optional<LoopId> parent,
                                           const Segment& segment) const {
    return best_match(parent ? loops[*parent].children : roots, segment);
}

namespace {

using Condition = std::pair<std::uint64_t, std::string>;

bool holds(std::span<const Condition> conditions, const Condition& wanted) {
    for (const Condition& condition : conditions) {
        if (condition == wanted) {
            return true;
        }
    }
    return false;
}

bool all_held(std::span<const Condition> subset, std::span<const Condition> superset) {
    for (const Condition& condition : subset) {
        if (!holds(superset, condition)) {
            return false;
        }
    }
    return true;
}

// Some position is tested by both with different values, so no segment matches both.
bool exclusive(std::span<const Condition> a, std::span<const Condition> b) {
    for (const auto& [position, value] : a) {
        for (const auto& [other_position, other_value] : b) {
            if (position == other_position && value != other_value) {
                return true;
            }
        }
    }
    return false;
}

std::optional<std::string> name_of(const Spec& spec, std::optional<LoopId> loop) {
    if (!loop) {
        return std::nullopt;
    }
    return spec.loops[*loop].name;
}

// The fault of one sibling pair, `first` earlier than `second`, if any.
std::optional<SpecError> pair_fault(const Spec& spec, LoopId first, LoopId second) {
    const LoopDef& a = spec.loops[first];
    const LoopDef& b = spec.loops[second];
    if (a.trigger.segment != b.trigger.segment) {
        return std::nullopt;
    }
    const std::span<const Condition> conditions_a = a.trigger.conditions;
    const std::span<const Condition> conditions_b = b.trigger.conditions;
    // Positions are distinct within a trigger, so equal sizes and one inclusion mean the same
    // set, whatever the order the conditions were listed in.
    if (conditions_a.size() == conditions_b.size() && all_held(conditions_a, conditions_b)) {
        SpecError::AmbiguousTrigger error{
            a.name, b.name, name_of(spec, a.parent), lossy_utf8(a.trigger.segment), {}};
        error.conditions.reserve(conditions_a.size());
        for (const auto& [position, value] : conditions_a) {
            error.conditions.emplace_back(position, lossy_utf8(value));
        }
        return SpecError{std::move(error)};
    }
    if (conditions_a.empty() || conditions_b.empty() || exclusive(conditions_a, conditions_b) ||
        all_held(conditions_b, conditions_a) || all_held(conditions_a, conditions_b)) {
        return std::nullopt;
    }
    return SpecError{SpecError::OverlappingTriggers{name_of(spec, a.parent), a.name, b.name,
                                                    render_trigger(a.trigger),
                                                    render_trigger(b.trigger)}};
}

std::optional<SpecError> siblings_fault(const Spec& spec, std::span<const LoopId> siblings) {
    for (std::size_t i = 0; i < siblings.size(); ++i) {
        for (std::size_t j = i + 1; j < siblings.size(); ++j) {
            if (auto fault = pair_fault(spec, siblings[i], siblings[j])) {
                return fault;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

[[nodiscard]] std::expected<void, SpecError> Spec::check_ambiguity() const {
    if (auto fault = siblings_fault(*this, roots)) {
        return std::unexpected(std::move(*fault));
    }
    for (const LoopDef& loop : loops) {
        if (auto fault = siblings_fault(*this, loop.children)) {
            return std::unexpected(std::move(*fault));
        }
    }
    return {};
}

}  // namespace remitrax
