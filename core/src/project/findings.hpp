// The findings of one projector call, each made with the loops open at the time.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "diagnostic/diagnostic.hpp"
#include "spec/loops.hpp"
#include "spec/spec.hpp"

namespace remitrax {

// One open loop and the running count of its instances.
struct OpenLoop {
    LoopId loop = 0;
    std::uint64_t instance = 0;
};

// Collects the diagnostics of one call of the projector. Both the element checks and the row
// builder report through it; it names the open loops of the projector's own stack, which it
// reads but does not own.
class Findings {
  public:
    Findings(const Spec& spec, const std::vector<OpenLoop>& open) : spec_(&spec), open_(&open) {}

    void clear() { diagnostics_.clear(); }
    std::span<const Diagnostic> diagnostics() const { return diagnostics_; }

    // A finding at the current loop path. Out of line: findings are rare on the hot path.
    [[gnu::cold]] void add(Rule rule, std::optional<std::uint64_t> segment,
                           std::optional<std::uint64_t> element,
                           std::optional<std::uint64_t> component, std::string_view datum);

  private:
    const Spec* spec_;
    const std::vector<OpenLoop>* open_;
    std::vector<Diagnostic> diagnostics_;
};

}  // namespace remitrax
