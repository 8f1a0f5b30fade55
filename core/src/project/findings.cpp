// The findings of one projector call, each with the loop path open at the time.
#include "project/findings.hpp"

#include <string>
#include <utility>

namespace remitrax {

void Findings::add(Rule rule, std::optional<std::uint64_t> segment,
                   std::optional<std::uint64_t> element, std::optional<std::uint64_t> component,
                   std::string_view datum) {
    std::vector<LoopRef> loops;
    loops.reserve(open_->size());
    for (const OpenLoop& loop : *open_) {
        loops.push_back({spec_->loops[loop.loop].name, loop.instance});
    }
    const SnipLevel level = rule.level();
    diagnostics_.push_back(Diagnostic{segment, element, component, std::move(rule),
                                      std::move(loops), std::string(datum), level});
}

}  // namespace remitrax
