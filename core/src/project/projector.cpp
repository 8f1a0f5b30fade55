// The projector: the loop events of each placed segment drive the element checks and the rows
// of the tables.
#include "project/projector.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "base/fault.hpp"
#include "base/saturating.hpp"

namespace remitrax {

Projector::Projector(std::shared_ptr<const Spec> spec, const Delimiters& delimiters)
    : spec_(std::move(spec)),
      plans_(Plans::build(*spec_)),
      index_(PlanIndex::build(*spec_, plans_)),
      instances_(spec_->loops.size(), 0),
      findings_(*spec_, open_),
      element_checker_(index_.plans, delimiters.component),
      rows_(*spec_, plans_, index_.ids, index_.plans, delimiters.component) {}

std::span<const Diagnostic> Projector::on(const Segment& segment, std::span<const Event> events,
                                          std::uint32_t id) {
    findings_.clear();
    for (const Event& event : events) {
        switch (event.kind()) {
            case EventKind::Open:
                opened(event.loop(), event.segment());
                break;
            case EventKind::Close:
                closed();
                break;
            case EventKind::Placed:
                if (event.loop() >= instances_.size()) [[unlikely]] {
                    throw InternalFault("a segment placed in loop " + std::to_string(event.loop()) +
                                        ", which the spec lacks");
                }
                if (id != IdIndex::unknown) {
                    element_checker_.check(segment, id, event.segment(), findings_);
                    rows_.placed(segment, id, event.loop(), event.segment(), element_checker_,
                                 findings_);
                }
                break;
            case EventKind::Unplaced:
            case EventKind::Empty:
                break;
        }
    }
    return findings_.diagnostics();
}

std::span<const Diagnostic> Projector::finish() {
    findings_.clear();
    while (!open_.empty()) {
        closed();
    }
    std::ranges::fill(instances_, 0);
    rows_.restart();
    return findings_.diagnostics();
}

void Projector::opened(LoopId loop, std::uint64_t segment) {
    if (loop >= instances_.size()) [[unlikely]] {
        throw InternalFault("loop " + std::to_string(loop) + " opened, which the spec lacks");
    }
    saturating_increment(instances_[loop]);
    open_.push_back({loop, instances_[loop]});
    rows_.opened(loop, segment);
}

void Projector::closed() {
    if (open_.empty()) [[unlikely]] {
        throw InternalFault("a loop closed with none open");
    }
    // The row is appended while its loop is still on the stack, so that what it reports
    // names the loop.
    rows_.closed(open_.back().loop, findings_);
    open_.pop_back();
}

}  // namespace remitrax
