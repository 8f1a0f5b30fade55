// The two roads through the processor, for tests that hold one against the other: the whole
// document at once, and segment by segment from a tokenizer as a streaming reader goes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/buffer.hpp"
#include "process/processor.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"
#include "x12/tokenizer.hpp"

namespace remitrax::testing {

inline std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Indexed by its own header, or with the usual delimiters when it has none.
inline Document open_document(std::string_view bytes) {
    if (auto parsed = Document::parse(Buffer::copy_of(bytes))) {
        return std::move(*parsed);
    }
    return Document::with_delimiters(Buffer::copy_of(bytes), Delimiters{}).value();
}

inline Tokenizer open_tokenizer(std::string_view bytes) {
    if (auto created = Tokenizer::create(bytes)) {
        return *created;
    }
    return Tokenizer(bytes, Delimiters{});
}

// The built-in spec the input declares, 5010 when it declares neither; each built-in is
// compiled once and shared by every caller, on any thread.
template <SegmentSource Source>
std::shared_ptr<const Spec> choose_spec(Source source) {
    static const std::shared_ptr<const Spec> v5010 = Spec::builtin_835();
    static const std::shared_ptr<const Spec> v4010 = Spec::builtin_835_4010();
    return Spec::select_builtin(v5010, v4010, std::move(source));
}

inline std::vector<std::string> lines_of(std::span<const Diagnostic> diagnostics) {
    std::vector<std::string> lines;
    for (const Diagnostic& diagnostic : diagnostics) {
        lines.push_back(diagnostic.to_string());
    }
    return lines;
}

inline std::vector<std::string> rows_of(const Table& table) {
    std::vector<std::string> rows;
    for (std::size_t r = 0; r < table.rows(); ++r) {
        rows.push_back(table.render_row(r).value());
    }
    return rows;
}

struct Outcome {
    std::string tables;
    std::vector<std::string> diagnostics;
};

inline Outcome run_whole(std::string_view bytes) {
    const Document document = open_document(bytes);
    const RunResult result = Processor::run(choose_spec(document.segments()), document);
    return {result.tables.to_string(), lines_of(result.diagnostics)};
}

// Segment by segment from a tokenizer, taking the tables at the end only, and once more with a
// take at every close of a transaction (the rows of each take, per table, in take order).
struct Streamed {
    Outcome outcome;
    std::map<std::string, std::vector<std::string>> batched_rows;
};

inline Streamed run_stream(std::string_view bytes) {
    Streamed streamed;
    for (const bool batched : {false, true}) {
        Tokenizer tokenizer = open_tokenizer(bytes);
        const std::shared_ptr<const Spec> spec = choose_spec(tokenizer);
        const LoopId batch = spec->loop_id("transaction").value();
        Processor processor(spec, tokenizer.delimiters());
        std::vector<std::string> lines;
        const auto take = [&] {
            for (const Table& table : processor.take_tables()) {
                for (std::string& row : rows_of(table)) {
                    streamed.batched_rows[table.name()].push_back(std::move(row));
                }
            }
        };
        const auto step = [&](const Output& output) {
            for (const std::string& line : lines_of(output.diagnostics)) {
                lines.push_back(line);
            }
            for (const Event& event : output.events) {
                if (batched && event.kind() == EventKind::Close && event.loop() == batch) {
                    take();
                }
            }
        };
        while (const std::optional<Segment> segment = tokenizer.next()) {
            step(processor.feed(*segment));
        }
        step(processor.finish());
        if (batched) {
            take();
        } else {
            streamed.outcome = {processor.take_tables().to_string(), std::move(lines)};
        }
    }
    return streamed;
}

}  // namespace remitrax::testing
