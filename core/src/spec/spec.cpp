// Loading a spec: the steps from JSON text to the compiled Spec in their order, merge patches,
// and the loop and element lookups.
#include "spec/spec.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "spec/json.hpp"
#include "spec/records.hpp"
#include "spec/shape.hpp"

namespace remitrax {

Spec::~Spec() {
    release_json(source);
}

[[nodiscard]] std::expected<std::shared_ptr<const Spec>, SpecError> Spec::from_json(
    std::string_view text) {
    auto value = read_json(text);
    if (!value) {
        return std::unexpected(std::move(value.error()));
    }
    return from_value(std::move(*value));
}

[[nodiscard]] std::expected<std::shared_ptr<const Spec>, SpecError> Spec::from_value(
    nlohmann::json value) {
    const JsonRelease release_value(value);
    auto spec = std::make_shared<Spec>();
    // The records borrow from the document, so it is moved into place before reading.
    spec->source = std::move(value);
    const nlohmann::json& document = spec->source;

    if (auto shape = check_shape(document); !shape) {
        return std::unexpected(std::move(shape.error()));
    }
    auto raw = read_spec(document);
    if (!raw) {
        return std::unexpected(SpecError{SpecError::Schema{std::nullopt, std::move(raw.error())}});
    }
    if (raw->loops.empty()) {
        return std::unexpected(SpecError{SpecError::NoLoops{raw->name}});
    }
    spec->name = std::move(raw->name);

    std::vector<std::string> names;
    std::vector<RawLoop> loops;
    names.reserve(raw->loops.size());
    loops.reserve(raw->loops.size());
    for (const auto& [loop_name, member] : raw->loops) {
        auto loop = read_loop(*member);
        if (!loop) {
            return std::unexpected(
                SpecError{SpecError::Schema{loop_name, std::move(loop.error())}});
        }
        names.push_back(loop_name);
        loops.push_back(std::move(*loop));
    }
    spec->loops.reserve(loops.size());
    for (std::size_t i = 0; i < loops.size(); ++i) {
        auto loop = compile_loop(names[i], loops[i], names);
        if (!loop) {
            return std::unexpected(std::move(loop.error()));
        }
        spec->loops.push_back(std::move(*loop));
    }
    if (auto cycles = check_cycles(spec->loops); !cycles) {
        return std::unexpected(std::move(cycles.error()));
    }
    for (LoopId id = 0; id < spec->loops.size(); ++id) {
        if (const auto parent = spec->loops[id].parent) {
            spec->loops[*parent].children.push_back(id);
        } else {
            spec->roots.push_back(id);
        }
    }

    // The empty id sorts first, so it is found before any segment record is read.
    if (!raw->segments.empty() && raw->segments.front().first.empty()) {
        return std::unexpected(SpecError{SpecError::EmptySegmentId{std::nullopt, "segments.\"\""}});
    }
    for (const auto& [id, member] : raw->segments) {
        auto segment = read_segment(*member);
        if (!segment) {
            return std::unexpected(
                SpecError{SpecError::SegmentSchema{id, std::move(segment.error())}});
        }
        auto elements = compile_elements(id, segment->elements);
        if (!elements) {
            return std::unexpected(std::move(elements.error()));
        }
        spec->segments.emplace_hint(spec->segments.end(), id, std::move(*elements));
    }
    if (raw->version) {
        auto version = compile_version(*raw->version);
        if (!version) {
            return std::unexpected(std::move(version.error()));
        }
        spec->version = std::move(*version);
    }
    if (auto ambiguity = spec->check_ambiguity(); !ambiguity) {
        return std::unexpected(std::move(ambiguity.error()));
    }
    auto tables = compile_tables(*spec, raw->tables);
    if (!tables) {
        return std::unexpected(std::move(tables.error()));
    }
    spec->tables = std::move(*tables);
    return std::shared_ptr<const Spec>(std::move(spec));
}

// Written here rather than taken from the JSON library, whose merge drops replaced and
// deleted members, and copies, in ways that allocate while a tree is destroyed. Here every
// value dropped is released first, and `target` stays one whole tree at every step.
void merge_patch(nlohmann::json& target, const nlohmann::json& patch) {
    const auto* members = patch.get_ptr<const nlohmann::json::object_t*>();
    if (members == nullptr) {
        nlohmann::json copy = copy_json(patch);
        release_json(target);
        target = std::move(copy);
        return;
    }
    if (!target.is_object()) {
        nlohmann::json object = nlohmann::json::object();
        release_json(target);
        target = std::move(object);
    }
    auto& merged = target.get_ref<nlohmann::json::object_t&>();
    for (const auto& [key, member] : *members) {
        if (member.is_null()) {
            if (const auto at = merged.find(key); at != merged.end()) {
                release_json(at->second);
                merged.erase(at);
            }
        } else {
            merge_patch(merged.try_emplace(key).first->second, member);
        }
    }
}

[[nodiscard]] std::expected<std::shared_ptr<const Spec>, SpecError> Spec::merge_patch(
    std::string_view text) const {
    const auto wrap = [](SpecError inner) {
        return std::unexpected(
            SpecError{SpecError::Patch{std::make_shared<const SpecError>(std::move(inner))}});
    };
    auto patch = read_json(text);
    if (!patch) {
        return wrap(std::move(patch.error()));
    }
    const JsonRelease release_patch(*patch);
    nlohmann::json merged = copy_json(source);
    const JsonRelease release_merged(merged);
    remitrax::merge_patch(merged, *patch);
    auto spec = from_value(std::move(merged));
    if (!spec) {
        return wrap(std::move(spec.error()));
    }
    return spec;
}

std::string Spec::to_json() const {
    // Strings are valid UTF-8 in every document the reader accepts; replacing keeps writing
    // infallible for a value built in code.
    return source.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<LoopId> Spec::loop_id(std::string_view loop_name) const {
    const auto at = std::lower_bound(
        loops.begin(), loops.end(), loop_name,
        [](const LoopDef& loop, std::string_view wanted) { return loop.name < wanted; });
    if (at == loops.end() || at->name != loop_name) {
        return std::nullopt;
    }
    return static_cast<LoopId>(at - loops.begin());
}

std::vector<LoopId> Spec::ancestors(LoopId loop) const {
    std::vector<LoopId> out;
    for (auto parent = loops.at(loop).parent; parent; parent = loops[*parent].parent) {
        out.push_back(*parent);
    }
    std::reverse(out.begin(), out.end());
    return out;
}

const ElementDef* Spec::element_def(std::string_view segment, std::uint64_t position,
                                    std::optional<std::uint64_t> component) const {
    const auto def = segments.find(segment);
    if (def == segments.end()) {
        return nullptr;
    }
    const auto element = def->second.find(position);
    if (element == def->second.end()) {
        return nullptr;
    }
    if (!component) {
        return &element->second;
    }
    const auto part = element->second.composite.find(*component);
    return part == element->second.composite.end() ? nullptr : &part->second;
}

}  // namespace remitrax
