#include "process/processor.hpp"

#include <algorithm>
#include <array>

namespace remitrax {

namespace {

void append(std::vector<Diagnostic>& out, std::span<const Diagnostic> diagnostics) {
    if (!diagnostics.empty()) {
        out.insert(out.end(), diagnostics.begin(), diagnostics.end());
    }
}

}  // namespace

Processor::Processor(std::shared_ptr<const Spec> spec, const Delimiters& delimiters)
    : engine_(*spec), checker_(*spec, delimiters), projector_(std::move(spec), delimiters) {}

const Output& Processor::feed(const Segment& segment) {
    output_.events.clear();
    output_.diagnostics.clear();
    const std::span<const Event> events = engine_.feed(segment);
    output_.events.assign(events.begin(), events.end());
    append(output_.diagnostics, checker_.on(segment, events));
    append(output_.diagnostics, projector_.on(segment, events));
    return output_;
}

const Output& Processor::finish() {
    output_.events.clear();
    output_.diagnostics.clear();
    // These Close events are not handed to the checker or the projector: each closes its
    // own stack in its finish.
    const std::span<const Event> events = engine_.close_all();
    output_.events.assign(events.begin(), events.end());
    append(output_.diagnostics, checker_.finish());
    append(output_.diagnostics, projector_.finish());
    return output_;
}

Tables Processor::take_tables() {
    return Tables(projector_.take_tables());
}

void Processor::reserve_for(const Document& document) {
    const Spec& spec = projector_.spec();
    IdIndex ids;
    // Per table, the numbers of the ids whose segments start its rows.
    std::vector<std::vector<std::uint32_t>> anchors(spec.tables.size());
    for (TableIndex t = 0; t < spec.tables.size(); ++t) {
        const TableDef& table = spec.tables[t];
        if (table.segment) {
            anchors[t].push_back(ids.add(*table.segment));
            continue;
        }
        for (const LoopId loop : table.loops) {
            anchors[t].push_back(ids.add(spec.loops[loop].trigger.segment));
        }
    }
    std::vector<std::uint64_t> counts(ids.size(), 0);
    // Most segments are told apart from every counted id by their first byte.
    std::array<bool, 256> leads{};
    for (TableIndex t = 0; t < spec.tables.size(); ++t) {
        const TableDef& table = spec.tables[t];
        if (table.segment) {
            leads[static_cast<unsigned char>(table.segment->front())] = true;
        }
        for (const LoopId loop : table.loops) {
            const std::string& trigger = spec.loops[loop].trigger.segment;
            if (!trigger.empty()) {
                leads[static_cast<unsigned char>(trigger.front())] = true;
            }
        }
    }
    const std::string_view bytes = document.bytes();
    const char separator = document.delimiters().element;
    for (const Body& body : document.index()) {
        const char* const text = bytes.data() + body.start;
        if (body.end == body.start || !leads[static_cast<unsigned char>(*text)]) {
            continue;
        }
        // Ids of up to 7 bytes are counted; a table anchored on a longer one simply grows.
        const std::size_t limit = std::min<std::size_t>(body.end - body.start, 8);
        std::size_t end = 0;
        while (end < limit && text[end] != separator) {
            ++end;
        }
        const std::uint32_t id = ids.find(std::string_view(text, end));
        if (id != IdIndex::unknown) {
            ++counts[id];
        }
    }
    for (TableIndex t = 0; t < spec.tables.size(); ++t) {
        std::uint64_t rows = 0;
        for (const std::uint32_t id : anchors[t]) {
            rows += counts[id];
        }
        projector_.reserve(t, static_cast<std::size_t>(rows));
    }
}

RunResult Processor::run(std::shared_ptr<const Spec> spec, const Document& document) {
    Processor processor(std::move(spec), document.delimiters());
    processor.reserve_for(document);
    RunResult result;
    Segment segment;
    for (std::size_t i = 0; i < document.size(); ++i) {
        // An index built from the input always gives a frame; a span that does not fit the
        // bytes would end the walk.
        const auto frame = document.frame(i);
        if (!frame) {
            break;
        }
        segment.reparse(i, *frame, document.delimiters());
        // feed without the copy of the events into the output.
        const std::span<const Event> events = processor.engine_.feed(segment);
        append(result.diagnostics, processor.checker_.on(segment, events));
        append(result.diagnostics, processor.projector_.on(segment, events));
    }
    append(result.diagnostics, processor.finish().diagnostics);
    result.tables = processor.take_tables();
    return result;
}

}  // namespace remitrax
