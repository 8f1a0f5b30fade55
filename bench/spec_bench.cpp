// Time to load a spec and to build a Processor for it, for the built-in spec and for generated
// specs much larger than any real one: many root loops, a long chain of nested loops, and many
// segment definitions merged over the built-in spec. Building a processor is paid per parse,
// so it should grow with the size of its tables, not faster.
//
// Four more shapes, each at every size given to --shapes, time loading from JSON text and
// patching the loaded spec's name as well: N sibling loops under one parent, all opened by LX
// with a distinct element 1 ("siblings"); the same with a table anchored in all N
// ("siblings_table"); a chain of N such loops, each the parent of the next ("chain_lx"); the
// chain with a table on segment LX anchored in all N ("chain_lx_table"). Loading should grow
// about linearly with N.
//
//   remitrax_spec_bench [--roots N] [--chain N] [--ids N] [--shapes N[,N...]] [--runs N]
//
// Defaults: 1,000 roots, a chain of 500, 70,000 extra ids, shapes of 10,000 loops, 3 runs.
// Each spec prints one line "spec=<name> loops=<n> segment_defs=<n> load_s=<x> processor_s=<x>",
// the shapes "... patch_s=<x>" after it, each time the median of its runs after one warm-up
// run, in seconds.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "common.hpp"
#include "process/processor.hpp"
#include "spec/spec.hpp"
#include "x12/delimiters.hpp"

namespace {

using namespace remitrax;
using bench::Clock;
using bench::g_sink;
using bench::seconds;

// `prefix` then `number` in at least `width` digits, so that names sort by number.
std::string numbered(std::string_view prefix, long number, int width) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*ld", width, number);
    std::string out(prefix);
    out += digits;
    return out;
}

// `count` root loops, each opened by its own segment and holding one more, every tenth
// closed by an end segment.
nlohmann::json roots_spec(long count) {
    nlohmann::json loops = nlohmann::json::object();
    for (long i = 0; i < count; ++i) {
        nlohmann::json loop = {{"trigger", {{"segment", numbered("R", i, 5)}}},
                               {"segments", {numbered("M", i, 5)}}};
        if (i % 10 == 0) {
            loop["end"] = numbered("E", i, 5);
        }
        loops[numbered("r", i, 5)] = std::move(loop);
    }
    return {{"name", "roots"}, {"loops", std::move(loops)}};
}

// A chain of `depth` loops, each the parent of the next, each with its own trigger and member.
nlohmann::json chain_spec(long depth) {
    nlohmann::json loops = nlohmann::json::object();
    for (long i = 0; i < depth; ++i) {
        nlohmann::json loop = {{"trigger", {{"segment", numbered("C", i, 5)}}},
                               {"segments", {numbered("M", i, 5)}}};
        if (i > 0) {
            loop["parent"] = numbered("c", i - 1, 5);
        }
        loops[numbered("c", i, 5)] = std::move(loop);
    }
    return {{"name", "chain"}, {"loops", std::move(loops)}};
}

// `count` segment definitions of one element each, as a patch of the built-in spec.
std::string ids_patch(long count) {
    nlohmann::json segments = nlohmann::json::object();
    for (long i = 0; i < count; ++i) {
        segments[numbered("Z", i, 6)] = {
            {"elements", {{"1", {{"name", "value"}, {"type", "AN"}, {"max", 30}}}}}};
    }
    return nlohmann::json{{"segments", std::move(segments)}}.dump();
}

// `count` loops opened by LX with element 1 holding the loop's number: siblings under one
// parent, or a chain in which each is the parent of the next. With `table`, one table anchored
// in all of them: loop-anchored for the siblings, on segment LX for the chain (a loop-anchored
// table cannot anchor in nested loops).
nlohmann::json lx_spec(long count, bool chain, bool table) {
    nlohmann::json loops = nlohmann::json::object();
    nlohmann::json names = nlohmann::json::array();
    if (!chain) {
        loops["p"] = {{"trigger", {{"segment", "HDR"}}}};
    }
    for (long i = 0; i < count; ++i) {
        nlohmann::json loop = {
            {"trigger", {{"segment", "LX"}, {"where", {{"1", std::to_string(i)}}}}}};
        if (!chain) {
            loop["parent"] = "p";
        } else if (i > 0) {
            loop["parent"] = numbered("s", i - 1, 6);
        }
        loops[numbered("s", i, 6)] = std::move(loop);
        names.push_back(numbered("s", i, 6));
    }
    nlohmann::json spec = {{"name", chain ? "chain_lx" : "siblings"}, {"loops", std::move(loops)}};
    if (table) {
        nlohmann::json rows = {{"loops", std::move(names)}};
        if (chain) {
            rows["segment"] = "LX";
            rows["columns"] = {{"value", {{"element", 1}}}};
        } else {
            rows["columns"] = {{"value", {{"segment", "LX"}, {"element", 1}}}};
        }
        spec["tables"] = {{"rows", std::move(rows)}};
    }
    return spec;
}

// Reads a comma-separated list of positive counts.
bool parse_counts(const char* text, std::vector<long>& out) {
    out.clear();
    std::string item;
    for (const char* at = text;; ++at) {
        if (*at == ',' || *at == '\0') {
            long count = 0;
            if (!bench::parse_count(item.c_str(), count)) {
                return false;
            }
            out.push_back(count);
            item.clear();
            if (*at == '\0') {
                return true;
            }
        } else {
            item += *at;
        }
    }
}

// The median seconds to build a processor over `spec`.
double processor_seconds(int runs, const std::shared_ptr<const Spec>& spec) {
    return bench::median_seconds(runs, [&] {
        const auto t0 = Clock::now();
        const Processor processor(spec, Delimiters{});
        const auto t1 = Clock::now();
        g_sink = g_sink + 1;
        return seconds(t0, t1);
    });
}

template <class Load>
void measure(const char* name, int runs, Load load) {
    std::shared_ptr<const Spec> spec;
    const double load_s = bench::median_seconds(runs, [&] {
        const auto t0 = Clock::now();
        spec = load();
        const auto t1 = Clock::now();
        return seconds(t0, t1);
    });
    if (!spec) {
        std::fprintf(stderr, "spec %s did not load\n", name);
        std::exit(1);
    }
    const double processor_s = processor_seconds(runs, spec);
    std::printf("spec=%s loops=%zu segment_defs=%zu load_s=%.4f processor_s=%.4f\n", name,
                spec->loops.size(), spec->segments.size(), load_s, processor_s);
    std::fflush(stdout);
}

std::shared_ptr<const Spec> loaded(nlohmann::json document) {
    auto spec = Spec::from_value(std::move(document));
    return spec ? *spec : nullptr;
}

// Loading from text, building a processor, then patching the spec's name.
void measure_shape(const std::string& name, int runs, const nlohmann::json& document) {
    const std::string text = document.dump();
    std::shared_ptr<const Spec> spec;
    const double load_s = bench::median_seconds(runs, [&] {
        const auto t0 = Clock::now();
        auto compiled = Spec::from_json(text);
        const auto t1 = Clock::now();
        spec = compiled ? *compiled : nullptr;
        return seconds(t0, t1);
    });
    if (!spec) {
        std::fprintf(stderr, "spec %s did not load\n", name.c_str());
        std::exit(1);
    }
    const double processor_s = processor_seconds(runs, spec);
    bool patched = true;
    const double patch_s = bench::median_seconds(runs, [&] {
        const auto t0 = Clock::now();
        const auto renamed = spec->merge_patch(R"({"name": "x"})");
        const auto t1 = Clock::now();
        patched = patched && renamed.has_value();
        return seconds(t0, t1);
    });
    if (!patched) {
        std::fprintf(stderr, "spec %s did not patch\n", name.c_str());
        std::exit(1);
    }
    std::printf("spec=%s loops=%zu segment_defs=%zu load_s=%.4f processor_s=%.4f patch_s=%.4f\n",
                name.c_str(), spec->loops.size(), spec->segments.size(), load_s, processor_s,
                patch_s);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    long roots = 1'000, chain = 500, ids = 70'000, runs = 3;
    std::vector<long> shapes = {10'000};
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--roots" && has_value && bench::parse_count(argv[i + 1], roots)) {
            ++i;
        } else if (arg == "--chain" && has_value && bench::parse_count(argv[i + 1], chain)) {
            ++i;
        } else if (arg == "--ids" && has_value && bench::parse_count(argv[i + 1], ids)) {
            ++i;
        } else if (arg == "--shapes" && has_value && parse_counts(argv[i + 1], shapes)) {
            ++i;
        } else if (arg == "--runs" && has_value && bench::parse_count(argv[i + 1], runs)) {
            ++i;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--roots N] [--chain N] [--ids N] [--shapes N[,N...]] "
                         "[--runs N]\n",
                         argv[0]);
            return 2;
        }
    }
    const int n = static_cast<int>(runs);
    measure("builtin", n, [] { return Spec::builtin_835(); });
    measure(numbered("roots_", roots, 1).c_str(), n,
            [document = roots_spec(roots)] { return loaded(document); });
    measure(numbered("chain_", chain, 1).c_str(), n,
            [document = chain_spec(chain)] { return loaded(document); });
    const auto base = Spec::builtin_835();
    measure(numbered("ids_", ids, 1).c_str(), n,
            [&base, patch = ids_patch(ids)]() -> std::shared_ptr<const Spec> {
                auto spec = base->merge_patch(patch);
                return spec ? *spec : nullptr;
            });
    for (const long count : shapes) {
        measure_shape(numbered("siblings_", count, 1), n, lx_spec(count, false, false));
        measure_shape(numbered("siblings_table_", count, 1), n, lx_spec(count, false, true));
        measure_shape(numbered("chain_lx_", count, 1), n, lx_spec(count, true, false));
        measure_shape(numbered("chain_lx_table_", count, 1), n, lx_spec(count, true, true));
    }
    return 0;
}
