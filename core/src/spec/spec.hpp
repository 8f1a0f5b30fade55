// The compiled spec: the immutable description of one transaction set, shared by reference
// counting by everything that reads it.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ranges>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "spec/elements.hpp"
#include "spec/error.hpp"
#include "spec/loops.hpp"
#include "spec/tables.hpp"
#include "spec/version.hpp"

namespace remitrax {

// JSON Merge Patch (RFC 7396): an object patch merges member by member, a null member
// deletes, anything else replaces `target` whole (arrays included).
void merge_patch(nlohmann::json& target, const nlohmann::json& patch);

struct Spec {
    std::string name;
    std::vector<LoopDef> loops;    // in bytewise order of names; a LoopId indexes it
    std::vector<LoopId> roots;     // the loops without parent, ascending
    std::vector<TableDef> tables;  // in bytewise order of names
    std::optional<DeclaredVersion> version;
    nlohmann::json source;  // the document compiled, as given (merged, for a patched spec)
    std::map<std::string, SegmentDef, std::less<>> segments;  // by id bytes

    // Releases `source` without allocating (see release_json): a spec may be dropped while
    // memory is exhausted.
    ~Spec();

    // Parses `text` as JSON, then compiles it as from_value does.
    [[nodiscard]] static std::expected<std::shared_ptr<const Spec>, SpecError> from_json(
        std::string_view text);
    // Checks and compiles a document, which becomes the spec's `source`. The first fault in
    // the loading order is returned; nothing of a failed load survives.
    [[nodiscard]] static std::expected<std::shared_ptr<const Spec>, SpecError> from_value(
        nlohmann::json value);

    // Applies a JSON Merge Patch (RFC 7396) to this spec's document and compiles the result
    // anew; every failure is SpecError::Patch around the inner error. This spec is unchanged.
    [[nodiscard]] std::expected<std::shared_ptr<const Spec>, SpecError> merge_patch(
        std::string_view text) const;
    // The kept document, pretty-printed with a two-space indent and keys in bytewise order.
    std::string to_json() const;

    // The built-in 835 spec (005010X221A1), and the same patched for the 4010 versions. Each
    // call compiles anew; a failure is an InternalFault, since the texts are ours.
    static std::shared_ptr<const Spec> builtin_835();
    static std::shared_ptr<const Spec> builtin_835_4010();

    // Chooses among `candidates` (in priority order) the spec whose declared version the
    // input declares first, reading `source` only as far as the choice needs; `fallback`
    // when none does.
    template <SegmentSource Source>
    static const Spec& select(std::span<const Spec* const> candidates, const Spec& fallback,
                              Source source) {
        std::vector<const DeclaredVersion*> versions;
        versions.reserve(candidates.size());
        for (const Spec* candidate : candidates) {
            versions.push_back(candidate->version ? &*candidate->version : nullptr);
        }
        const auto chosen = select_version(versions, std::move(source));
        return chosen ? *candidates[*chosen] : fallback;
    }

    // Of the built-in 835 spec `v5010` and its 4010 form `v4010`, the one the input declares:
    // select with the candidates v5010 then v4010 and v5010 as the fallback. What a parse or
    // a stream without a spec of its own uses.
    template <SegmentSource Source>
    static std::shared_ptr<const Spec> select_builtin(std::shared_ptr<const Spec> v5010,
                                                      std::shared_ptr<const Spec> v4010,
                                                      Source source) {
        const Spec* const candidates[] = {v5010.get(), v4010.get()};
        const Spec& chosen =
            select(std::span<const Spec* const>(candidates), *v5010, std::move(source));
        return &chosen == v4010.get() ? std::move(v4010) : std::move(v5010);
    }

    // The loop named exactly `name`, if any.
    std::optional<LoopId> loop_id(std::string_view name) const;
    // The loop's ancestors, outermost first, ending with its parent; empty for a root.
    // Throws std::out_of_range for an id that is not below loops.size().
    std::vector<LoopId> ancestors(LoopId loop) const;
    // The definition of an element, or of one of its components when `component` is given;
    // null when the spec defines none.
    const ElementDef* element_def(std::string_view segment, std::uint64_t position,
                                  std::optional<std::uint64_t> component = std::nullopt) const;

    // Of the candidates (LoopIds of this spec, ascending) whose trigger matches `segment`, the
    // one with the most conditions; ties go to the earliest. Allocates nothing.
    template <std::ranges::input_range Candidates>
        requires std::convertible_to<std::ranges::range_reference_t<Candidates>, LoopId>
    std::optional<LoopId> best_match(Candidates&& candidates, const Segment& segment) const {
        std::optional<LoopId> best;
        std::size_t best_conditions = 0;
        for (const LoopId id : candidates) {
            const Trigger& trigger = loops[id].trigger;
            // A candidate that cannot have more conditions than the kept one cannot replace it.
            if (best && trigger.conditions.size() <= best_conditions) {
                continue;
            }
            if (trigger.matches(segment)) {
                best = id;
                best_conditions = trigger.conditions.size();
            }
        }
        return best;
    }
    // best_match over the children of `parent`, or over the roots without one.
    std::optional<LoopId> matching_child(std::optional<LoopId> parent,
                                         const Segment& segment) const;
    // Refuses two siblings (roots, or children of one loop) whose triggers could both open on
    // one segment without one being the more specific: the first such pair, visiting the
    // roots and then each loop's children in LoopId order.
    [[nodiscard]] std::expected<void, SpecError> check_ambiguity() const;
};

}  // namespace remitrax
