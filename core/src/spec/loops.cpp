// Compiling the loops of a spec and their controls, the check that no chain of parents forms
// a cycle, and the text form of a trigger.
#include "spec/loops.hpp"

#include <algorithm>

#include "base/text.hpp"
#include "spec/elements.hpp"

namespace remitrax {

namespace {

SpecError empty_id(std::string_view loop, std::string key) {
    return SpecError{SpecError::EmptySegmentId{std::string(loop), std::move(key)}};
}

}  // namespace

[[nodiscard]] std::expected<Control, ControlError> compile_control(const RawControl& raw,
                                                                   bool has_end) {
    if (!has_end) {
        return std::unexpected(ControlError{ControlError::NoEnd{}});
    }
    const std::pair<const char*, std::size_t> positions[] = {
        {"opener_element", raw.opener_element},
        {"closer_element", raw.closer_element},
        {"count_element", raw.count_element},
    };
    for (const auto& [key, value] : positions) {
        if (value == 0) {
            return std::unexpected(ControlError{ControlError::ZeroPosition{key}});
        }
    }
    ControlCount count;
    if (raw.count == "segments") {
        count = ControlCount::Segments;
    } else if (raw.count == "children") {
        count = ControlCount::Children;
    } else {
        return std::unexpected(ControlError{ControlError::UnknownCount{raw.count}});
    }
    return Control{raw.opener_element, raw.closer_element, raw.count_element, count};
}

[[nodiscard]] std::expected<LoopDef, SpecError> compile_loop(std::string_view name,
                                                             const RawLoop& raw,
                                                             std::span<const std::string> names) {
    if (raw.trigger.segment.empty()) {
        return std::unexpected(empty_id(name, "trigger.segment"));
    }
    for (std::size_t i = 0; i < raw.segments.size(); ++i) {
        if (raw.segments[i].empty()) {
            return std::unexpected(empty_id(name, "segments[" + std::to_string(i) + "]"));
        }
    }
    if (raw.end && raw.end->empty()) {
        return std::unexpected(empty_id(name, "end"));
    }
    if (raw.end && *raw.end == raw.trigger.segment) {
        return std::unexpected(
            SpecError{SpecError::EndIsTrigger{std::string(name), raw.trigger.segment}});
    }
    std::optional<LoopId> parent;
    if (raw.parent) {
        const auto at = std::lower_bound(names.begin(), names.end(), *raw.parent);
        if (at == names.end() || *at != *raw.parent) {
            return std::unexpected(
                SpecError{SpecError::UnknownParent{std::string(name), *raw.parent}});
        }
        parent = static_cast<LoopId>(at - names.begin());
    }
    Trigger trigger{raw.trigger.segment, {}};
    trigger.conditions.reserve(raw.trigger.where.size());
    // The map visits keys in text order, so the first bad key as a text is the one reported.
    for (const auto& [key, value] : raw.trigger.where) {
        const std::optional<std::uint64_t> position = parse_position(key);
        if (!position) {
            return std::unexpected(SpecError{SpecError::BadPosition{std::string(name), key}});
        }
        trigger.conditions.emplace_back(*position, value);
    }
    // Text order puts "10" before "9".
    std::sort(trigger.conditions.begin(), trigger.conditions.end());
    std::optional<Control> control;
    if (raw.control) {
        auto compiled = compile_control(*raw.control, raw.end.has_value());
        if (!compiled) {
            return std::unexpected(
                SpecError{SpecError::BadControl{std::string(name), std::move(compiled.error())}});
        }
        control = *compiled;
    }
    return LoopDef{parent, std::string(name), std::move(trigger), raw.segments, {}, raw.end,
                   control};
}

[[nodiscard]] std::expected<void, SpecError> check_cycles(std::span<const LoopDef> loops) {
    constexpr std::size_t off_path = SIZE_MAX;
    // Loops known to reach a root: a walk that meets one cannot find a cycle beyond it.
    std::vector<bool> clean(loops.size(), false);
    // Each loop's index on the current path, or off_path.
    std::vector<std::size_t> on_path(loops.size(), off_path);
    std::vector<LoopId> path;
    for (LoopId start = 0; start < loops.size(); ++start) {
        path.clear();
        std::optional<LoopId> current = start;
        while (current && !clean[*current]) {
            if (on_path[*current] != off_path) {
                std::vector<std::string> members;
                for (std::size_t i = on_path[*current]; i < path.size(); ++i) {
                    members.push_back(loops[path[i]].name);
                }
                return std::unexpected(SpecError{SpecError::Cycle{std::move(members)}});
            }
            on_path[*current] = path.size();
            path.push_back(*current);
            current = loops[*current].parent;
        }
        for (const LoopId id : path) {
            clean[id] = true;
            on_path[id] = off_path;
        }
    }
    return {};
}

std::string render_trigger(const Trigger& trigger) {
    std::string out = quoted(lossy_utf8(trigger.segment));
    if (trigger.conditions.empty()) {
        out += " with no conditions";
        return out;
    }
    out += " where {";
    for (std::size_t i = 0; i < trigger.conditions.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        out += std::to_string(trigger.conditions[i].first);
        out += ": ";
        out += quoted(lossy_utf8(trigger.conditions[i].second));
    }
    out += '}';
    return out;
}

}  // namespace remitrax
