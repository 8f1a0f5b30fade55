// Any bytes processed with the built-in spec they declare: the whole document at once and a
// segment at a time give the same tables and the same diagnostics, and taking the rows at
// every close of a transaction, as a stream does, loses and repeats no row.
#include <cstddef>
#include <cstdint>

#include "fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace remitrax;
    const auto input = fuzz::input_of(fuzz::as_text(data, size));
    if (!input) {
        return 0;
    }
    const Document document = fuzz::document_of(*input);
    const std::shared_ptr<const Spec> spec = fuzz::declared_spec(document.segments());
    fuzz::check(spec == fuzz::declared_spec(fuzz::tokenizer_of(*input)),
                "both roads choose the same spec");

    const fuzz::Outcome whole = fuzz::run_whole(spec, document);
    const fuzz::Outcome segments = fuzz::run_segments(spec, fuzz::tokenizer_of(*input), {});
    fuzz::check(segments.diagnostics == whole.diagnostics,
                "a segment at a time gives the diagnostics of the whole document",
                segments.diagnostics + "\n--- whole:\n" + whole.diagnostics);
    fuzz::check(segments.tables == whole.tables,
                "a segment at a time gives the tables of the whole document",
                segments.tables + "\n--- whole:\n" + whole.tables);

    const fuzz::Outcome batched =
        fuzz::run_segments(spec, fuzz::tokenizer_of(*input), spec->loop_id("transaction"));
    fuzz::check(batched.diagnostics == whole.diagnostics,
                "rows taken per transaction leave the diagnostics as they are");
    fuzz::check(batched.rows == whole.rows, "rows taken per transaction are the rows, once each");
    return 0;
}
