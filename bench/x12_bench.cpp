// Throughput of the X12 reading layer over one large 835 input: a plain terminator scan as
// the baseline, then the document index, the tokenizer and segment re-parsing.
//
//   remitrax_x12_bench [--mb N] [--runs N] [--file PATH] [--write PATH] [--only STAGE]
//
// Without --file the input is generated in memory: one interchange of at least N MB
// (default 256) holding many payment transactions. Each stage prints the median of its
// runs, after one warm-up run, as "stage=<name> mb_per_s=<x>" with MB = 1e6 bytes. With
// --write the generated input is written to PATH instead, for other benchmarks to read; with
// --only just the named stage runs.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffer.hpp"
#include "common.hpp"
#include "counting_new.hpp"
#include "process/processor.hpp"
#include "spec/spec.hpp"
#include "x12/delimiters.hpp"
#include "x12/document.hpp"
#include "x12/segment.hpp"
#include "x12/tokenizer.hpp"

namespace {

using namespace remitrax;
using bench::Clock;
using bench::g_sink;
using bench::seconds;

class Rng : public bench::SplitMix {
  public:
    std::int64_t below(std::int64_t n) {
        return static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(n));
    }
    template <std::size_t N>
    std::string_view pick(const std::string_view (&items)[N]) {
        return items[next() % N];
    }
    std::string digits(int n) {
        std::string s;
        for (int i = 0; i < n; ++i) {
            s += static_cast<char>('0' + below(10));
        }
        return s;
    }
    std::string date() {
        char buf[16];
        std::snprintf(buf, sizeof buf, "2024%02d%02d", static_cast<int>(1 + below(12)),
                      static_cast<int>(1 + below(28)));
        return buf;
    }
};

// Concatenation without operator+, which trips a false -Wrestrict in GCC 12.
std::string cat(std::initializer_list<std::string_view> parts) {
    std::string s;
    for (const std::string_view p : parts) {
        s += p;
    }
    return s;
}

// Cents as an X12 decimal: "150", "150.5", "-12.34".
std::string money(std::int64_t cents) {
    const std::int64_t a = cents < 0 ? -cents : cents;
    std::string s = cents < 0 ? "-" : "";
    s += std::to_string(a / 100);
    if (a % 100 != 0) {
        s += '.';
        s += static_cast<char>('0' + a % 100 / 10);
        if (a % 10 != 0) {
            s += static_cast<char>('0' + a % 10);
        }
    }
    return s;
}

// Segments written with '*', '~' and a line feed after each terminator.
struct Out {
    std::string text;
    std::size_t segments = 0;

    template <class... Parts>
    void seg(std::string_view id, const Parts&... parts) {
        text += id;
        ((text += '*', text += std::string_view(parts)), ...);
        text += "~\n";
        ++segments;
    }
};

constexpr std::string_view last_names[] = {"SMITH",  "JOHNSON", "GARCIA",   "NGUYEN", "OKAFOR",
                                           "MULLER", "ROSSI",   "KOWALSKI", "TANAKA", "OBRIEN"};
constexpr std::string_view first_names[] = {"JOHN", "MARIA", "WEI",   "AISHA", "LUCAS",
                                            "EMMA", "RAJ",   "SOFIA", "AHMED", "GRACE"};
constexpr std::string_view cities[] = {"SPRINGFIELD", "RIVERSIDE", "FAIRVIEW", "GEORGETOWN",
                                       "MADISON",     "CLINTON",   "SALEM"};
constexpr std::string_view states[] = {"IL", "CA", "TX", "NY", "OH", "GA", "WA", "PA"};
constexpr std::string_view streets[] = {"MAIN ST",  "OAK AVE",  "PINE RD",
                                        "MAPLE DR", "CEDAR LN", "ELM BLVD"};
constexpr std::string_view payers[] = {"ACME HEALTH PLAN", "BLUE RIVER INSURANCE", "SUMMIT MUTUAL",
                                       "UNITED CARE COOP"};
constexpr std::string_view providers[] = {"LAKESIDE CLINIC", "NORTH MEDICAL GROUP",
                                          "ST MARY HOSPITAL", "VALLEY PEDIATRICS"};
constexpr std::string_view procedures[] = {"99213", "99214", "99203", "97110", "80053",
                                           "36415", "71046", "93000", "G0439"};
constexpr std::string_view modifiers[] = {"25", "59", "GP", "LT", "RT", "26"};

void claim(Out& w, Rng& r, std::int64_t& paid_out) {
    Out lines;
    std::int64_t charge = 0, paid = 0, patient = 0;
    for (std::int64_t n = 1 + r.below(5); n > 0; --n) {
        const std::int64_t c = 2'000 + r.below(60'000);
        const std::int64_t allowed = c * (50 + r.below(46)) / 100;
        const std::int64_t pr = r.below(4) == 0 ? r.below(allowed / 4 + 1) : 0;
        std::string code = cat({"HC:", r.pick(procedures)});
        if (r.below(3) == 0) {
            code += cat({":", r.pick(modifiers)});
        }
        if (r.below(8) == 0) {
            code += cat({":", r.pick(modifiers)});
        }
        lines.seg("SVC", code, money(c), money(allowed - pr), "", std::to_string(1 + r.below(4)));
        lines.seg("DTM", "472", r.date());
        lines.seg("CAS", "CO", "45", money(c - allowed));
        if (pr > 0) {
            lines.seg("CAS", "PR", r.below(2) == 0 ? "1" : "2", money(pr));
        }
        lines.seg("REF", "6R", r.digits(10));
        lines.seg("AMT", "B6", money(allowed));
        charge += c, paid += allowed - pr, patient += pr;
    }
    const std::int64_t copay = std::min<std::int64_t>(paid, 500 * (1 + r.below(7)));
    const std::string date = r.date();
    w.seg("CLP", cat({"PCN", r.digits(9)}), "1", money(charge), money(paid - copay),
          money(patient + copay), "12", r.digits(14), "11", "1");
    w.seg("CAS", "PR", "3", money(copay));
    w.seg("NM1", "QC", "1", r.pick(last_names), r.pick(first_names), "", "", "", "MI",
          cat({"W", r.digits(9)}));
    if (r.below(2) == 0) {
        w.seg("NM1", "82", "1", r.pick(last_names), r.pick(first_names), "", "", "", "XX",
              r.digits(10));
    }
    w.seg("DTM", "232", date);
    w.seg("DTM", "233", date);
    w.seg("AMT", "AU", money(paid));
    w.text += lines.text;
    w.segments += lines.segments;
    paid_out += paid - copay;
}

void transaction(Out& w, Rng& r, std::size_t number) {
    std::string control = std::to_string(number);
    control.insert(0, control.size() < 4 ? 4 - control.size() : 0, '0');
    Out claims;
    std::int64_t paid = 0;
    for (std::int64_t n = 2 + r.below(8); n > 0; --n) {
        claim(claims, r, paid);
    }
    const std::string tax_id = r.digits(9), payer_id = r.digits(5), date = r.date();
    Out t;
    t.seg("ST", "835", control, "005010X221A1");
    t.seg("BPR", "I", money(paid), "C", "ACH", "CCP", "01", r.digits(9), "DA", r.digits(10),
          cat({"1", tax_id}), "", "01", r.digits(9), "DA", r.digits(8), date);
    t.seg("TRN", "1", r.digits(10), cat({"1", tax_id}));
    t.seg("REF", "EV", cat({"RCV", r.digits(6)}));
    t.seg("DTM", "405", date);
    t.seg("N1", "PR", r.pick(payers));
    t.seg("N3", cat({r.digits(3), " ", r.pick(streets)}));
    t.seg("N4", r.pick(cities), r.pick(states), r.digits(5));
    t.seg("REF", "2U", payer_id);
    t.seg("PER", "CX", "CLAIMS DEPT", "TE", cat({"800", r.digits(7)}));
    t.seg("PER", "BL", "EDI SUPPORT", "TE", cat({"888", r.digits(7)}), "EM",
          cat({"edi", payer_id, "@payer.example"}));
    t.seg("N1", "PE", r.pick(providers), "XX", r.digits(10));
    t.seg("N3", cat({r.digits(4), " ", r.pick(streets)}));
    t.seg("N4", r.pick(cities), r.pick(states), r.digits(9));
    t.seg("REF", "TJ", tax_id);
    t.seg("LX", "1");
    t.text += claims.text;
    t.segments += claims.segments;
    if (r.below(8) == 0) {
        t.seg("PLB", r.digits(10), "20241231", cat({"WO:PCN", r.digits(9)}),
              money(-r.below(10'000)), cat({"FB:", r.digits(6)}), money(r.below(5'000)));
    }
    t.seg("SE", std::to_string(t.segments + 1), control);
    w.text += t.text;
    w.segments += t.segments;
}

std::string generate(std::size_t target_bytes) {
    Out w;
    w.text.reserve(target_bytes + (1u << 16));
    w.seg("ISA", "00", "          ", "00", "          ", "ZZ", "ACMEHEALTH     ", "ZZ",
          "LAKESIDECLINIC ", "240115", "1200", "^", "00501", "000000001", "0", "P", ":");
    w.seg("GS", "HP", "ACMEHEALTH", "LAKESIDECLINIC", "20240115", "1200", "1", "X", "005010X221A1");
    Rng r;
    std::size_t count = 0;
    while (w.text.size() < target_bytes) {
        transaction(w, r, ++count);
    }
    w.seg("GE", std::to_string(count), "1");
    w.seg("IEA", "1", "000000001");
    return std::move(w.text);
}

// Median throughput of `runs` runs after one warm-up run; `run` returns its own timing.
// With --only, the one stage to run; every other is skipped.
const char* g_only = nullptr;

bool wanted(std::string_view stage) {
    return g_only == nullptr || stage == g_only;
}

template <class Run>
double report(const char* stage, int runs, std::size_t bytes, Run run) {
    if (!wanted(stage)) {
        return 0;
    }
    const double median = bench::median_seconds(runs, run);
    std::printf("stage=%s mb_per_s=%.1f\n", stage, static_cast<double>(bytes) / 1e6 / median);
    std::fflush(stdout);
    return median;
}

// Allocations of one more run, per segment; call after the stage's storage has warmed up.
template <class Run>
void report_allocations(const char* stage, std::size_t segments, Run run) {
    if (!wanted(stage)) {
        return;
    }
    const std::size_t before = remitrax::testing::allocation_count();
    run();
    const auto n = static_cast<double>(remitrax::testing::allocation_count() - before);
    std::printf("allocations_per_segment stage=%s value=%.3f\n", stage,
                n / static_cast<double>(segments));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    long mb = 256, runs = 5;
    const char* path = nullptr;
    const char* write_to = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--mb" && has_value && bench::parse_count(argv[i + 1], mb)) {
            ++i;
        } else if (arg == "--runs" && has_value && bench::parse_count(argv[i + 1], runs)) {
            ++i;
        } else if (arg == "--file" && has_value) {
            path = argv[++i];
        } else if (arg == "--write" && has_value) {
            write_to = argv[++i];
        } else if (arg == "--only" && has_value) {
            g_only = argv[++i];
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--mb N] [--runs N] [--file PATH] [--write PATH] [--only STAGE]\n",
                argv[0]);
            return 2;
        }
    }

    std::string text;
    if (path != nullptr) {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
        text.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
        if (size < 0 || !in.seekg(0) || !in.read(text.data(), size)) {
            std::fprintf(stderr, "cannot read %s\n", path);
            return 1;
        }
    } else {
        text = generate(static_cast<std::size_t>(mb) * 1'000'000u);
    }
    if (write_to != nullptr) {
        std::ofstream out(write_to, std::ios::binary);
        if (!out.write(text.data(), static_cast<std::streamsize>(text.size())) || !out.flush()) {
            std::fprintf(stderr, "cannot write %s\n", write_to);
            return 1;
        }
        std::printf("wrote %s bytes=%zu\n", write_to, text.size());
        return 0;
    }
    auto parsed = Document::parse(Buffer::copy_of(text));
    std::string().swap(text);
    if (!parsed) {
        std::fprintf(stderr, "%s\n", parsed.error().to_string().c_str());
        return 1;
    }
    const Document& doc = *parsed;
    const std::string_view bytes = doc.bytes();
    const Delimiters& delims = doc.delimiters();
    const std::size_t segments = doc.size();
    std::printf("input_mb=%.1f segments=%zu\n", static_cast<double>(bytes.size()) / 1e6, segments);
    const int n = static_cast<int>(runs);

    // What a caller's parse pays before indexing: a copy of the input into fresh memory.
    report("input_copy", n, bytes.size(), [&] {
        const auto t0 = Clock::now();
        Buffer copy = Buffer::copy_of(bytes);
        const auto t1 = Clock::now();  // freeing the copy is not part of making it
        g_sink = static_cast<unsigned char>(copy.data()[copy.size() / 2]);
        return seconds(t0, t1);
    });

    std::vector<std::uint32_t> offsets;  // grown by the warm-up run, cleared by each run
    report("memchr_baseline", n, bytes.size(), [&] {
        const auto t0 = Clock::now();
        offsets.clear();
        const char* p = bytes.data();
        const char* const end = p + bytes.size();
        while (const void* hit = std::memchr(p, static_cast<unsigned char>(delims.segment),
                                             static_cast<std::size_t>(end - p))) {
            const char* at = static_cast<const char*>(hit);
            offsets.push_back(static_cast<std::uint32_t>(at - bytes.data()));
            p = at + 1;
        }
        const auto t1 = Clock::now();
        g_sink = offsets.size();
        return seconds(t0, t1);
    });

    report("document_index", n, bytes.size(), [&] {
        const auto t0 = Clock::now();
        const auto index = document::index(bytes, delims);
        const auto t1 = Clock::now();  // freeing the index is not part of building it
        g_sink = index ? index->size() : 0;
        return seconds(t0, t1);
    });

    std::size_t walked = 0;
    const auto tokenize = [&] {
        const auto t0 = Clock::now();
        auto tokenizer = Tokenizer::create(bytes).value();
        std::uint64_t sum = 0;
        std::size_t count = 0;
        while (const auto segment = tokenizer.next()) {
            sum += segment->elements().size();
            ++count;
        }
        const auto t1 = Clock::now();
        g_sink = sum;
        walked = count;
        return seconds(t0, t1);
    };
    report("tokenizer", n, bytes.size(), tokenize);

    Segment segment;  // one Segment for the whole document; its storage is reused
    const auto reparse = [&] {
        const auto t0 = Clock::now();
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < segments; ++i) {
            segment.reparse(i, *doc.frame(i), delims);
            sum += segment.elements().size();
        }
        const auto t1 = Clock::now();
        g_sink = sum;
        return seconds(t0, t1);
    };
    report("segment_reparse", n, bytes.size(), reparse);

    // The least a reader must do: find every segment, then split it into elements and those
    // into components, as views into a reused list.
    std::vector<std::string_view> pieces;
    report("split_baseline", n, bytes.size(), [&] {
        const auto t0 = Clock::now();
        std::uint64_t sum = 0;
        const char* p = bytes.data();
        const char* const end = p + bytes.size();
        while (p < end) {
            const void* hit = std::memchr(p, static_cast<unsigned char>(delims.segment),
                                          static_cast<std::size_t>(end - p));
            const char* stop = hit ? static_cast<const char*>(hit) : end;
            pieces.clear();
            const char* start = p;
            for (const char* c = p; c < stop; ++c) {
                if (*c == delims.element || *c == delims.component) {
                    pieces.emplace_back(start, static_cast<std::size_t>(c - start));
                    start = c + 1;
                }
            }
            pieces.emplace_back(start, static_cast<std::size_t>(stop - start));
            sum += pieces.size();
            p = stop + 1;
        }
        const auto t1 = Clock::now();
        g_sink = sum;
        return seconds(t0, t1);
    });

    // The whole road of a parse: index the bytes, then place, check and project every
    // segment with the built-in 835 spec, tables and diagnostics included.
    const auto spec = Spec::builtin_835();
    std::size_t rows = 0, findings = 0;
    const auto process = [&] {
        // The copy stands for the caller's own input buffer and is not timed; the index is.
        Buffer input = Buffer::copy_of(bytes);
        const auto t0 = Clock::now();
        auto document = Document::with_delimiters(std::move(input), delims);
        auto result = Processor::run(spec, *document);
        const auto t1 = Clock::now();
        rows = 0;
        for (const auto& table : result.tables) {
            rows += table.rows();
        }
        findings = result.diagnostics.size();
        return seconds(t0, t1);
    };
    // The first run writes its tables into memory the process never touched before, as a
    // parse in a new process does; the runs after it mostly reuse what the previous one
    // freed. Both are shown, since first touch of a page costs as much as a good part of the
    // work.
    if (wanted("process_run")) {
        const double cold_seconds = process();
        std::printf("stage=process_run_cold mb_per_s=%.1f\n",
                    static_cast<double>(bytes.size()) / 1e6 / cold_seconds);
    }
    const double process_seconds = report("process_run", n, bytes.size(), process);

    // Choosing the built-in spec the input declares, as a parse without a spec does.
    const auto spec_4010 = Spec::builtin_835_4010();
    report("spec_select", n, bytes.size(), [&] {
        const auto t0 = Clock::now();
        const auto chosen = Spec::select_builtin(spec, spec_4010, doc.segments());
        const auto t1 = Clock::now();
        g_sink = chosen->loops.size();
        return seconds(t0, t1);
    });
    if (wanted("process_run")) {
        std::printf("stage=process_run segments_per_s=%.0f rows=%zu diagnostics=%zu\n",
                    static_cast<double>(segments) / process_seconds, rows, findings);
    }

    report_allocations("segment_reparse", segments, reparse);
    report_allocations("tokenizer", segments, tokenize);
    if (wanted("tokenizer") && walked != segments) {
        std::fprintf(stderr, "tokenizer saw %zu segments, the index %zu\n", walked, segments);
        return 1;
    }
    return 0;
}
