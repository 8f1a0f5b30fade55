// What the fuzz targets share: the checks that end a run, the ways any bytes become a
// document or a segment stream, and the text forms that two roads are compared by.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffer.hpp"
#include "column/table.hpp"
#include "diagnostic/diagnostic.hpp"
#include "process/processor.hpp"
#include "spec/spec.hpp"
#include "x12/delimiters.hpp"
#include "x12/document.hpp"
#include "x12/tokenizer.hpp"

namespace remitrax::fuzz {

// A broken promise ends the run the way a crash does, so the fuzzer keeps the input.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %s\n%.*s\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

inline void check(bool holds, const char* what, std::string_view detail = {}) {
    if (!holds) {
        fail(what, detail);
    }
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Input with a readable ISA header is taken as it stands. Other input is read the way a caller
// who names the delimiters would have it read: its first four bytes give the element,
// component and segment delimiters and a release byte (none when that byte is NUL), and the
// rest is the data. The fuzzer thereby reaches every delimiter choice, equal ones included.
struct Input {
    std::string_view bytes;
    std::optional<Delimiters> given;  // absent when the header supplies them
};

inline std::optional<Input> input_of(std::string_view raw) {
    if (Delimiters::from_isa_after_leading_trivia(raw)) {
        return Input{raw, std::nullopt};
    }
    if (raw.size() < 4) {
        return std::nullopt;
    }
    Delimiters given;
    given.element = raw[0];
    given.component = raw[1];
    given.segment = raw[2];
    if (raw[3] != '\0') {
        given.release = raw[3];
    }
    return Input{raw.substr(4), given};
}

inline Document document_of(const Input& input) {
    Buffer bytes = Buffer::copy_of(input.bytes);
    if (input.given) {
        auto document = Document::with_delimiters(std::move(bytes), *input.given);
        check(document.has_value(), "a small input indexes with given delimiters");
        return std::move(*document);
    }
    auto document = Document::parse(std::move(bytes));
    check(document.has_value(), "an input whose header reads indexes");
    return std::move(*document);
}

inline Tokenizer tokenizer_of(const Input& input) {
    if (input.given) {
        return Tokenizer(input.bytes, *input.given);
    }
    auto tokenizer = Tokenizer::create(input.bytes);
    check(tokenizer.has_value(), "an input whose header reads opens a tokenizer");
    return *tokenizer;
}

// The built-in specs, compiled once per process: every input reads them, none changes them.
inline const std::shared_ptr<const Spec>& builtin_5010() {
    static const std::shared_ptr<const Spec> spec = Spec::builtin_835();
    return spec;
}

inline const std::shared_ptr<const Spec>& builtin_4010() {
    static const std::shared_ptr<const Spec> spec = Spec::builtin_835_4010();
    return spec;
}

// The built-in spec the input declares, 5010 when it declares neither.
template <SegmentSource Source>
std::shared_ptr<const Spec> declared_spec(Source source) {
    return Spec::select_builtin(builtin_5010(), builtin_4010(), std::move(source));
}

inline void append_lines(std::span<const Diagnostic> diagnostics, std::string& out) {
    for (const Diagnostic& diagnostic : diagnostics) {
        out += diagnostic.to_string();
        out += '\n';
    }
}

// Every row of every table, per table name, in the order taken.
using Rows = std::map<std::string, std::vector<std::string>>;

inline void append_rows(const Tables& tables, Rows& rows) {
    for (const Table& table : tables) {
        std::vector<std::string>& out = rows[table.name()];
        for (std::size_t r = 0; r < table.rows(); ++r) {
            out.push_back(table.render_row(r).value());
        }
    }
}

// What one processing road gives: the tables as text, their rows and every diagnostic line.
struct Outcome {
    std::string tables;
    Rows rows;
    std::string diagnostics;
};

inline Outcome run_whole(const std::shared_ptr<const Spec>& spec, const Document& document) {
    const RunResult result = Processor::run(spec, document);
    Outcome outcome{result.tables.to_string(), {}, {}};
    append_rows(result.tables, outcome.rows);
    append_lines(result.diagnostics, outcome.diagnostics);
    return outcome;
}

// Segment by segment from a tokenizer; with `batch`, the rows are taken at every close of
// that loop as a streaming reader takes them, and the tables text is left empty.
inline Outcome run_segments(const std::shared_ptr<const Spec>& spec, Tokenizer tokenizer,
                            std::optional<LoopId> batch) {
    Processor processor(spec, tokenizer.delimiters());
    Outcome outcome;
    const auto step = [&](const Output& output) {
        append_lines(output.diagnostics, outcome.diagnostics);
        for (const Event& event : output.events) {
            if (batch && event.kind() == EventKind::Close && event.loop() == *batch) {
                append_rows(processor.take_tables(), outcome.rows);
            }
        }
    };
    Segment segment;
    while (tokenizer.next(segment)) {
        step(processor.feed(segment));
    }
    step(processor.finish());
    Tables rest = processor.take_tables();
    if (!batch) {
        outcome.tables = rest.to_string();
    }
    append_rows(rest, outcome.rows);
    return outcome;
}

}  // namespace remitrax::fuzz
