// Processing on many threads at once: documents and streams that share one compiled spec, and
// the built-in specs compiled side by side, each give what they give on one thread alone. The
// test command also runs these under ThreadSanitizer (REMITRAX_TSAN), which reports any
// unsynchronised access to what the threads share even when the results come out right.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <latch>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "process/processor.hpp"
#include "processor_roads.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"

namespace {

using namespace remitrax;
using namespace remitrax::testing;
namespace fs = std::filesystem;

constexpr std::size_t thread_count = 8;

// Calls work(t) for every t below thread_count, each on a thread of its own; the threads start
// together, so that their work overlaps. Returns when all are done.
template <class Work>
void on_threads(const Work& work) {
    std::latch start(thread_count);
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < thread_count; ++t) {
        threads.emplace_back([&work, &start, t] {
            start.arrive_and_wait();
            work(t);
        });
    }
}

// A 5010 interchange of fifty transactions with one to four claims each; the BPR has no date
// and some claim statuses are not in their list, so findings come all through it.
std::string generated_input() {
    std::string text =
        "ISA*00*          *00*          *ZZ*SENDER         *ZZ*RECEIVER       *240101*1200*^"
        "*00501*000000001*0*P*:~GS*HP*SENDER*RECEIVER*20240101*1200*1*X*005010X221A1~";
    for (int t = 1; t <= 50; ++t) {
        const std::string control = std::to_string(1000 + t);
        std::string body = "BPR*I*100*C*ACH*CCP~TRN*1*" + control + "*1512345678~";
        int segments = 4;  // ST, BPR, TRN and SE
        for (int c = 0; c <= t % 4; ++c) {
            const std::string amount = std::to_string(10 + c);
            body += "LX*" + std::to_string(c + 1) + "~CLP*C" + control + "-" + std::to_string(c) +
                    ((t + c) % 5 == 0 ? "*99*" : "*1*") + amount + "*5**12*P1~CAS*CO*45*" +
                    std::to_string(5 + c) + "~SVC*HC:99213*" + amount + "*5~";
            segments += 4;
        }
        text += "ST*835*" + control + "~" + body + "SE*" + std::to_string(segments) + "*" +
                control + "~";
    }
    return text + "GE*50*1~IEA*1*000000001~";
}

// An input and what the whole-document road gives for it on one thread: the outcome, and the
// rows per table (only tables with rows, as the streamed takes gather them).
struct Input {
    std::string name;
    std::string bytes;
    Outcome whole;
    std::map<std::string, std::vector<std::string>> rows;
};

std::vector<Input> load_inputs() {
    std::vector<Input> inputs;
    for (const auto& entry : fs::directory_iterator(fs::path(REMITRAX_GOLDEN_DIR) / "inputs")) {
        if (entry.path().extension() == ".835") {
            inputs.push_back({entry.path().filename().string(), read_file(entry.path()), {}, {}});
        }
    }
    std::sort(inputs.begin(), inputs.end(),
              [](const Input& a, const Input& b) { return a.name < b.name; });
    inputs.push_back({"generated", generated_input(), {}, {}});
    for (Input& input : inputs) {
        const Document document = open_document(input.bytes);
        const RunResult result = Processor::run(choose_spec(document.segments()), document);
        input.whole = {result.tables.to_string(), lines_of(result.diagnostics)};
        for (const Table& table : result.tables) {
            for (std::string& row : rows_of(table)) {
                input.rows[table.name()].push_back(std::move(row));
            }
        }
    }
    return inputs;
}

// Thread t takes the inputs in turn from the t-th on, so that threads mostly work on different
// documents at the same moment; the k-th result of thread t is of this input.
const Input& input_for(const std::vector<Input>& inputs, std::size_t t, std::size_t k) {
    return inputs[(t + k) % inputs.size()];
}

TEST(ProcessorThreads, DocumentsRunAtOnceOverSharedSpecsGiveTheirResultAlone) {
    const std::vector<Input> inputs = load_inputs();
    // The inputs declare both versions, so both built-in specs are shared.
    std::set<const Spec*> specs;
    for (const Input& input : inputs) {
        specs.insert(choose_spec(open_document(input.bytes).segments()).get());
    }
    ASSERT_EQ(specs.size(), 2U);

    std::vector<std::vector<Outcome>> outcomes(thread_count);
    on_threads([&](std::size_t t) {
        for (std::size_t k = 0; k < 2 * inputs.size(); ++k) {
            outcomes[t].push_back(run_whole(input_for(inputs, t, k).bytes));
        }
    });
    for (std::size_t t = 0; t < thread_count; ++t) {
        for (std::size_t k = 0; k < outcomes[t].size(); ++k) {
            const Input& input = input_for(inputs, t, k);
            EXPECT_EQ(outcomes[t][k].tables, input.whole.tables) << input.name << ", thread " << t;
            EXPECT_EQ(outcomes[t][k].diagnostics, input.whole.diagnostics)
                << input.name << ", thread " << t;
        }
    }
}

TEST(ProcessorThreads, StreamsFedAtOnceWithTakesGiveTheWholeDocumentResult) {
    const std::vector<Input> inputs = load_inputs();
    // Each stream is read by its own tokenizer into its own processor, once taking the tables
    // at the end and once at every close of a transaction.
    std::vector<std::vector<Streamed>> streams(thread_count);
    on_threads([&](std::size_t t) {
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            streams[t].push_back(run_stream(input_for(inputs, t, k).bytes));
        }
    });
    for (std::size_t t = 0; t < thread_count; ++t) {
        for (std::size_t k = 0; k < streams[t].size(); ++k) {
            const Input& input = input_for(inputs, t, k);
            const Streamed& stream = streams[t][k];
            EXPECT_EQ(stream.outcome.tables, input.whole.tables) << input.name << ", thread " << t;
            EXPECT_EQ(stream.outcome.diagnostics, input.whole.diagnostics)
                << input.name << ", thread " << t;
            EXPECT_EQ(stream.batched_rows, input.rows) << input.name << ", thread " << t;
        }
    }
}

// The built-in specs are not cached: every call compiles its own. Compiled on many threads at
// once, each is the same document and gives the same results as the one compiled alone.
TEST(SpecThreads, BuiltinSpecsCompiledAtOnceWorkAsOneCompiledAlone) {
    const std::vector<Input> inputs = load_inputs();
    const std::string alone[] = {Spec::builtin_835()->to_json(),
                                 Spec::builtin_835_4010()->to_json()};
    std::vector<std::vector<std::string>> sources(thread_count);
    std::vector<std::vector<Outcome>> outcomes(thread_count);
    on_threads([&](std::size_t t) {
        const std::shared_ptr<const Spec> v5010 = Spec::builtin_835();
        const std::shared_ptr<const Spec> v4010 = Spec::builtin_835_4010();
        sources[t] = {v5010->to_json(), v4010->to_json()};
        for (const Input& input : inputs) {
            const Document document = open_document(input.bytes);
            const RunResult result =
                Processor::run(Spec::select_builtin(v5010, v4010, document.segments()), document);
            outcomes[t].push_back({result.tables.to_string(), lines_of(result.diagnostics)});
        }
    });
    for (std::size_t t = 0; t < thread_count; ++t) {
        EXPECT_EQ(sources[t], (std::vector<std::string>{alone[0], alone[1]})) << "thread " << t;
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            EXPECT_EQ(outcomes[t][k].tables, inputs[k].whole.tables) << inputs[k].name;
            EXPECT_EQ(outcomes[t][k].diagnostics, inputs[k].whole.diagnostics) << inputs[k].name;
        }
    }
}

}  // namespace
