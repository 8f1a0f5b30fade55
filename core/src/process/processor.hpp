// The per-segment driver: each segment goes to the loop engine, then the envelope checker,
// then the projector, and what they produce is gathered here.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "column/table.hpp"
#include "diagnostic/diagnostic.hpp"
#include "engine/engine.hpp"
#include "envelope/checker.hpp"
#include "project/projector.hpp"
#include "spec/spec.hpp"
#include "x12/delimiters.hpp"
#include "x12/document.hpp"
#include "x12/segment.hpp"

namespace remitrax {

// The result of one step; valid until the next feed or finish.
struct Output {
    std::vector<Event> events;
    std::vector<Diagnostic> diagnostics;
};

// The tables and every diagnostic of a whole document, in input order.
struct RunResult {
    Tables tables;
    std::vector<Diagnostic> diagnostics;
};

// One processor serves one input (or, after finish, the next) from one thread at a time. It
// shares the immutable spec.
class Processor {
  public:
    Processor(std::shared_ptr<const Spec> spec, const Delimiters& delimiters);

    // One segment: its events, then the checker's findings followed by the projector's.
    const Output& feed(const Segment& segment);
    // The end of the input: the Close events of every open loop, innermost first, then the
    // checker's and the projector's end findings. Afterwards the processor is as new.
    const Output& finish();
    // The rows gathered since the last take, as tables sorted by name. Row numbers run on.
    Tables take_tables();
    // The same, in the buffers of `spare`: tables that an earlier take of this processor
    // handed out and that nobody reads any more. Their rows are dropped, and once their
    // buffers have room a take allocates nothing. Tables this processor did not make are let
    // go and new ones are made.
    Tables take_tables(Tables spare);

    // The whole-document road: every segment re-parsed into one reused Segment.
    static RunResult run(std::shared_ptr<const Spec> spec, const Document& document);

  private:
    // One segment through the engine, the checker and the projector, always in that order,
    // with the numbers of its id in the engine's and in the projector's ids; the findings of
    // the step are appended to `out`. The events are valid until the next step.
    std::span<const Event> step(const Segment& segment, std::uint32_t engine_id,
                                std::uint32_t projector_id, std::vector<Diagnostic>& out);

    // The ids a whole-document run numbers: the engine's first, so that their numbers are
    // those of the engine, then the projector's, then each table's anchor ids. Fills
    // projector_ids_. A segment whose id none of them names gets the number ids.size().
    struct RunIds {
        IdIndex ids;
        std::vector<std::vector<std::uint32_t>> anchors;  // per table, its anchor ids
    };
    RunIds run_ids();
    // Sizes the output columns from how often each table's anchor ids occur (`counts`, by id
    // number), so that they grow in one step rather than by repeated doubling.
    void reserve_rows(const RunIds& ids, std::span<const std::uint64_t> counts);

    // The run with every segment's id numbered in an integer of type Number, wide enough for
    // ids.size(): the numbers live beside the tables to the end of a run, so narrow ones
    // lower its peak memory.
    template <class Number>
    static RunResult run_numbered(Processor& processor, const Document& document,
                                  const RunIds& ids);

    LoopEngine engine_;
    EnvelopeChecker envelope_checker_;
    Projector projector_;
    Output output_;
    // By number of run_ids: the projector's number of that id.
    std::vector<std::uint32_t> projector_ids_;
};

}  // namespace remitrax
