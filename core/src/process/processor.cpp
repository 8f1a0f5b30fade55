// The processor: each segment through the loop engine, the envelope checker and the projector,
// for a whole document or one segment at a time.
#include "process/processor.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "base/bytes.hpp"

namespace remitrax {

namespace {

// Out of line, so that the test for nothing to append stays small enough to inline.
[[gnu::noinline]] void append_all(std::vector<Diagnostic>& out,
                                  std::span<const Diagnostic> diagnostics) {
    out.insert(out.end(), diagnostics.begin(), diagnostics.end());
}

void append(std::vector<Diagnostic>& out, std::span<const Diagnostic> diagnostics) {
    if (!diagnostics.empty()) [[unlikely]] {
        append_all(out, diagnostics);
    }
}

}  // namespace

Processor::Processor(std::shared_ptr<const Spec> spec, const Delimiters& delimiters)
    : engine_(*spec),
      envelope_checker_(*spec, delimiters),
      projector_(std::move(spec), delimiters) {}

inline std::span<const Event> Processor::step(const Segment& segment, std::uint32_t engine_id,
                                              std::uint32_t projector_id,
                                              std::vector<Diagnostic>& out) {
    const std::span<const Event> events = engine_.feed(segment, engine_id);
    append(out, envelope_checker_.on(segment, events));
    append(out, projector_.on(segment, events, projector_id));
    return events;
}

const Output& Processor::feed(const Segment& segment) {
    output_.events.clear();
    output_.diagnostics.clear();
    const std::span<const Event> events =
        step(segment, engine_.ids().find(segment.id()), projector_.ids().find(segment.id()),
             output_.diagnostics);
    output_.events.assign(events.begin(), events.end());
    return output_;
}

const Output& Processor::finish() {
    output_.events.clear();
    output_.diagnostics.clear();
    // These Close events are not handed to the checker or the projector: each closes its
    // own stack in its finish.
    const std::span<const Event> events = engine_.close_all();
    output_.events.assign(events.begin(), events.end());
    append(output_.diagnostics, envelope_checker_.finish());
    append(output_.diagnostics, projector_.finish());
    return output_;
}

Tables Processor::take_tables() {
    return Tables(projector_.take_tables());
}

Tables Processor::take_tables(Tables spare) {
    std::vector<Table> into = std::move(spare).release();
    if (!projector_.take_tables_into(into)) {
        return take_tables();
    }
    return Tables(std::move(into));
}

Processor::RunIds Processor::run_ids() {
    const Spec& spec = projector_.spec();
    RunIds run;
    IdIndex& ids = run.ids;
    for (const IdIndex* known : {&engine_.ids(), &projector_.ids()}) {
        for (std::uint32_t n = 0; n < known->size(); ++n) {
            ids.add(known->name(n));
        }
    }
    run.anchors.resize(spec.tables.size());
    for (TableIndex t = 0; t < spec.tables.size(); ++t) {
        const TableDef& table = spec.tables[t];
        if (table.segment) {
            run.anchors[t].push_back(ids.add(*table.segment));
            continue;
        }
        for (const LoopId loop : table.loops) {
            run.anchors[t].push_back(ids.add(spec.loops[loop].trigger.segment));
        }
    }
    const auto other = static_cast<std::uint32_t>(ids.size());
    projector_ids_.resize(ids.size() + 1);
    for (std::uint32_t n = 0; n < other; ++n) {
        projector_ids_[n] = projector_.ids().find(ids.name(n));
    }
    projector_ids_.back() = IdIndex::unknown;
    return run;
}

namespace {

// The number of every segment's id in `ids`, and how many segments each number has; an id the
// index does not hold gets ids.size().
template <class Number>
struct Numbered {
    std::vector<Number> numbers;        // by segment
    std::vector<std::uint64_t> counts;  // by number
};

template <class Number>
Numbered<Number> number_segment_ids(const Document& document, const IdIndex& ids) {
    const auto other = static_cast<std::uint32_t>(ids.size());
    Numbered<Number> out{std::vector<Number>(document.size()),
                         std::vector<std::uint64_t>(ids.size() + 1, 0)};
    const std::string_view input = document.bytes();
    const Delimiters& delimiters = document.delimiters();
    [[maybe_unused]] const bytes::Word separators =
        bytes::repeated(static_cast<unsigned char>(delimiters.element));
    const std::vector<Body>& index = document.index();
    [[maybe_unused]] const bool plain = !delimiters.release;
    for (std::size_t i = 0; i < index.size(); ++i) {
        const std::string_view body(input.data() + index[i].start, index[i].end - index[i].start);
        std::uint32_t number = IdIndex::unknown;
#if !defined(REMITRAX_ABLATION_ID_WORDS)
        // Eight bytes at a time: the lowest byte equal to the separator ends the id, and the
        // id's key comes from the same word.
        if (body.size() >= 8 && plain) {
            const bytes::Word word = bytes::load<bytes::Word>(body.data());
            if (const bytes::Word hits = bytes::first_match(word, separators); hits != 0) {
                const auto size = static_cast<std::size_t>(std::countr_zero(hits)) / 8;
                number = ids.find_short(body.substr(0, size), word);
            } else {
                number = ids.find(body.substr(0, body.find(delimiters.element)));
            }
        } else
#endif
        {
            number = ids.find(
                body.substr(0, find_unescaped(body, delimiters.element, delimiters.release)));
        }
        number = std::min(number, other);
        out.numbers[i] = static_cast<Number>(number);
        ++out.counts[number];
    }
    return out;
}

}  // namespace

void Processor::reserve_rows(const RunIds& run, std::span<const std::uint64_t> counts) {
    const Spec& spec = projector_.spec();
    for (TableIndex t = 0; t < spec.tables.size(); ++t) {
        std::uint64_t rows = 0;
        for (const std::uint32_t id : run.anchors[t]) {
            rows += counts[id];
        }
        projector_.reserve(t, static_cast<std::size_t>(rows));
    }
}

template <class Number>
RunResult Processor::run_numbered(Processor& processor, const Document& document,
                                  const RunIds& ids) {
    const Numbered<Number> numbered = number_segment_ids<Number>(document, ids.ids);
    processor.reserve_rows(ids, numbered.counts);
    const std::vector<Number>& numbers = numbered.numbers;
    RunResult result;
    Segment segment;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        segment.reparse(i, document.frame_at(i), document.delimiters());
        processor.step(segment, numbers[i], processor.projector_ids_[numbers[i]],
                       result.diagnostics);
    }
    append(result.diagnostics, processor.finish().diagnostics);
    result.tables = processor.take_tables();
    return result;
}

RunResult Processor::run(std::shared_ptr<const Spec> spec, const Document& document) {
    Processor processor(std::move(spec), document.delimiters());
    const RunIds ids = processor.run_ids();
    // The numbers run from 0 to ids.size(), the one for ids that none of them names.
    const std::size_t highest = ids.ids.size();
    if (highest <= std::numeric_limits<std::uint8_t>::max()) {
        return run_numbered<std::uint8_t>(processor, document, ids);
    }
    if (highest <= std::numeric_limits<std::uint16_t>::max()) {
        return run_numbered<std::uint16_t>(processor, document, ids);
    }
    return run_numbered<std::uint32_t>(processor, document, ids);
}

}  // namespace remitrax
