// Loop triggers: matching a segment against a trigger, and the check that no two sibling loops
// could open on the same segment without one being the more specific.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// The fault of the earliest pair (by place in `siblings`, then by the later place) among
// `places`, ascending places of siblings, or nothing when every pair is fine. `found` holds
// the earliest fault met in other groups so far; a pair after it is not examined.
void earliest_fault(
    const Spec& spec, std::span<const LoopId> siblings, std::span<const std::size_t> places,
    std::optional<std::pair<std::pair<std::size_t, std::size_t>, SpecError>>& found) {
    for (std::size_t i = 0; i < places.size(); ++i) {
        if (found && places[i] > found->first.first) {
            return;
        }
        for (std::size_t j = i + 1; j < places.size(); ++j) {
            const std::pair pair{places[i], places[j]};
            if (found && pair >= found->first) {
                break;
            }
            if (auto fault = pair_fault(spec, siblings[places[i]], siblings[places[j]])) {
                found.emplace(pair, std::move(*fault));
                return;
            }
        }
    }
}

// How many conditions test `position`.
std::size_t tests_of(std::span<const Condition> conditions, std::uint64_t position) {
    std::size_t count = 0;
    for (const auto& [at, value] : conditions) {
        if (at == position) {
            ++count;
        }
    }
    return count;
}

// The value at `position` of each of `places`, which all test it once, with its place, by
// value and then by place.
void values_at(const Spec& spec, std::span<const LoopId> siblings,
               std::span<const std::size_t> places, std::uint64_t position,
               std::vector<std::pair<std::string_view, std::size_t>>& out) {
    out.clear();
    for (const std::size_t place : places) {
        for (const auto& [at, value] : spec.loops[siblings[place]].trigger.conditions) {
            if (at == position) {
                out.emplace_back(value, place);
            }
        }
    }
    std::ranges::sort(out);
}

// Of the positions that every trigger of `places` tests exactly once, the one holding the most
// distinct values, which splits the triggers finest; none when no position is shared.
std::optional<std::uint64_t> splitting_position(
    const Spec& spec, std::span<const LoopId> siblings, std::span<const std::size_t> places,
    std::vector<std::pair<std::string_view, std::size_t>>& scratch) {
    const auto conditions_of = [&](std::size_t place) -> std::span<const Condition> {
        return spec.loops[siblings[place]].trigger.conditions;
    };
    std::optional<std::uint64_t> best;
    std::size_t best_values = 0;
    for (const auto& [position, value] : conditions_of(places.front())) {
        const bool shared = std::ranges::all_of(places, [&](std::size_t place) {
            return tests_of(conditions_of(place), position) == 1;
        });
        if (!shared) {
            continue;
        }
        values_at(spec, siblings, places, position, scratch);
        std::size_t values = 0;
        for (std::size_t k = 0; k < scratch.size(); ++k) {
            if (k == 0 || scratch[k].first != scratch[k - 1].first) {
                ++values;
            }
        }
        if (values > best_values) {
            best = position;
            best_values = values;
        }
    }
    return best;
}

// Only some pairs can be faulty: two triggers on different segments never are, nor a trigger
// without conditions and one with some, nor two triggers that hold different values at a
// position each tests once. So the siblings are split into groups by segment, each group into
// the triggers without conditions and the others, and the others, when some position is tested
// once by each, by the value there (at the position with the most values); pairs are examined only
// within a group, each group in the order of the whole list, and the earliest fault of all groups
// is the one reported. Siblings that differ at one position therefore cost about as much as sorting
// them.
std::optional<SpecError> siblings_fault(const Spec& spec, std::span<const LoopId> siblings) {
    if (siblings.size() < 2) {
        return std::nullopt;
    }
    const auto trigger_of = [&](std::size_t place) -> const Trigger& {
        return spec.loops[siblings[place]].trigger;
    };
    std::vector<std::size_t> places(siblings.size());
    for (std::size_t place = 0; place < places.size(); ++place) {
        places[place] = place;
    }
    // By segment, then triggers without conditions first, then by place.
    std::ranges::sort(places, [&](std::size_t x, std::size_t y) {
        const Trigger& a = trigger_of(x);
        const Trigger& b = trigger_of(y);
        if (a.segment != b.segment) {
            return a.segment < b.segment;
        }
        if (a.conditions.empty() != b.conditions.empty()) {
            return a.conditions.empty();
        }
        return x < y;
    });
    std::optional<std::pair<std::pair<std::size_t, std::size_t>, SpecError>> found;
    std::vector<std::pair<std::string_view, std::size_t>> by_value;
    std::vector<std::size_t> run;
    for (std::size_t begin = 0; begin < places.size();) {
        const Trigger& first = trigger_of(places[begin]);
        std::size_t end = begin + 1;
        while (end < places.size() && trigger_of(places[end]).segment == first.segment &&
               trigger_of(places[end]).conditions.empty() == first.conditions.empty()) {
            ++end;
        }
        const std::span<const std::size_t> group(places.data() + begin, end - begin);
        begin = end;
        if (group.size() < 2) {
            continue;
        }
        const auto position = first.conditions.empty()
                                  ? std::nullopt
                                  : splitting_position(spec, siblings, group, by_value);
        if (!position) {
            earliest_fault(spec, siblings, group, found);
            continue;
        }
        values_at(spec, siblings, group, *position, by_value);
        for (std::size_t from = 0; from < by_value.size();) {
            std::size_t to = from + 1;
            while (to < by_value.size() && by_value[to].first == by_value[from].first) {
                ++to;
            }
            if (to - from > 1) {
                run.clear();
                for (std::size_t k = from; k < to; ++k) {
                    run.push_back(by_value[k].second);
                }
                earliest_fault(spec, siblings, run, found);
            }
            from = to;
        }
    }
    if (!found) {
        return std::nullopt;
    }
    return std::move(found->second);
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
