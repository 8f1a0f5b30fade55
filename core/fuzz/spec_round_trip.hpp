// A loaded spec written as JSON and loaded again is the same spec: the same document, the
// same loops, tables and segment definitions, and the same text when written once more.
#pragma once

#include <string>

#include "fuzz.hpp"

namespace remitrax::fuzz {

inline std::string names_of(const Spec& spec) {
    std::string out = spec.name + '\n';
    for (const LoopDef& loop : spec.loops) {
        out += loop.name + ' ';
    }
    out += '\n';
    for (const TableDef& table : spec.tables) {
        out += table.name + ' ';
    }
    out += '\n';
    for (const auto& [id, segment] : spec.segments) {
        out += id + ' ';
    }
    return out;
}

inline void check_round_trip(const Spec& spec) {
    const std::string text = spec.to_json();
    const auto reloaded = Spec::from_json(text);
    if (!reloaded) {
        fail("a written spec loads back", reloaded.error().to_string() + "\n" + text);
    }
    check((*reloaded)->source == spec.source, "a written spec loads back to the same document",
          text);
    check(names_of(**reloaded) == names_of(spec), "a written spec loads back to the same records",
          text);
    check((*reloaded)->to_json() == text, "a reloaded spec writes the same text", text);
}

}  // namespace remitrax::fuzz
