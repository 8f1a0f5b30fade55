// Values per second of the element value parsers over realistic element texts: amounts for
// parse_r, CCYYMMDD dates for civil_date and HHMM / HHMMSS times for parse_tm.
//
//   remitrax_values_bench [--count N] [--runs N]
//
// Each stage parses N generated values (default 4,000,000) per run and prints the median of
// its runs, after one warm-up run, as "stage=<name> values_per_s=<x>".

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "column/parse.hpp"
#include "column/table.hpp"
#include "common.hpp"

namespace {

using namespace remitrax;
using bench::Clock;
using bench::g_sink;
using bench::seconds;

class Rng : public bench::SplitMix {
  public:
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
};

// The texts of one stage, stored back to back so that reading them is cache-friendly.
class Values {
  public:
    void add(std::string_view text) {
        bytes_ += text;
        ends_.push_back(bytes_.size());
    }
    std::size_t size() const { return ends_.size(); }
    // Views are taken once all values are added, so the bytes no longer move.
    std::vector<std::string_view> views() const {
        std::vector<std::string_view> out;
        out.reserve(ends_.size());
        std::size_t start = 0;
        for (const std::size_t end : ends_) {
            out.emplace_back(bytes_.data() + start, end - start);
            start = end;
        }
        return out;
    }

  private:
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

// Amounts as 835 files write them: mostly cents of charges and payments ("1234.56",
// "150", "87.5"), some negative adjustments ("-12.5") and zeros.
Values amounts(Rng& r, std::size_t count) {
    Values v;
    char buf[40];
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned kind = r.below(10);
        if (kind == 0) {
            v.add("0");
            continue;
        }
        const unsigned cents = r.below(kind < 4 ? 1'000'000 : 50'000);
        const char* sign = kind == 1 ? "-" : "";
        if (cents % 100 == 0) {
            std::snprintf(buf, sizeof buf, "%s%u", sign, cents / 100);
        } else if (cents % 10 == 0) {
            std::snprintf(buf, sizeof buf, "%s%u.%u", sign, cents / 100, cents % 100 / 10);
        } else {
            std::snprintf(buf, sizeof buf, "%s%u.%02u", sign, cents / 100, cents % 100);
        }
        v.add(buf);
    }
    return v;
}

Values dates(Rng& r, std::size_t count) {
    Values v;
    char buf[16];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, "%04u%02u%02u", 2015 + r.below(12), 1 + r.below(12),
                      1 + r.below(28));
        v.add(buf);
    }
    return v;
}

Values times(Rng& r, std::size_t count) {
    Values v;
    char buf[16];
    for (std::size_t i = 0; i < count; ++i) {
        if (r.below(2) == 0) {
            std::snprintf(buf, sizeof buf, "%02u%02u", r.below(24), r.below(60));
        } else {
            std::snprintf(buf, sizeof buf, "%02u%02u%02u", r.below(24), r.below(60), r.below(60));
        }
        v.add(buf);
    }
    return v;
}

// The median rate of `runs` runs of `parse` over the values after one warm-up run; `parse`
// gives each text a number to sum.
template <class Parse>
void stage(const char* name, const Values& values, int runs, Parse parse) {
    const std::vector<std::string_view> texts = values.views();
    const double median = bench::median_seconds(runs, [&] {
        const auto t0 = Clock::now();
        std::uint64_t sum = 0;
        for (const std::string_view text : texts) {
            sum += parse(text);
        }
        const auto t1 = Clock::now();
        g_sink = sum;
        return seconds(t0, t1);
    });
    std::printf("stage=%s values_per_s=%.0f\n", name, static_cast<double>(texts.size()) / median);
    std::fflush(stdout);
}

// Rows per second appended to a table of a claim-like schema: row and segment numbers,
// four binary texts, two amounts, a date. The cells come from a small pool prepared in
// advance, so the stage measures the check and the appends of whole rows; each run appends
// `count` rows to an emptied table, growth of the buffers included.
void stage_append_row(std::size_t count, int runs) {
    const std::vector<ColumnSchema> schema = {
        {"row", ColumnType::int64(0)},
        {"segment", ColumnType::int64(0)},
        {"claim_id", ColumnType::binary()},
        {"status", ColumnType::binary()},
        {"charge", ColumnType::decimal128(38, 2)},
        {"paid", ColumnType::decimal128(38, 2)},
        {"patient", ColumnType::binary()},
        {"payer_id", ColumnType::binary()},
        {"service_date", ColumnType::date32()},
    };
    constexpr std::size_t kPool = 1024;
    Rng r;
    std::vector<std::string> texts;
    texts.reserve(kPool * 4);
    char buf[32];
    for (std::size_t i = 0; i < kPool; ++i) {
        std::snprintf(buf, sizeof buf, "CLM%09u", r.below(1'000'000'000));
        texts.emplace_back(buf);
        texts.emplace_back(r.below(4) == 0 ? "4" : "1");
        std::snprintf(buf, sizeof buf, "PATIENT %u", r.below(100'000));
        texts.emplace_back(buf);
        std::snprintf(buf, sizeof buf, "%010u", r.below(1'000'000'000));
        texts.emplace_back(buf);
    }
    std::vector<std::vector<Cell>> pool;
    for (std::size_t i = 0; i < kPool; ++i) {
        const Int128 charge = r.below(1'000'000);
        pool.push_back({cell::Null{}, cell::Null{}, cell::Bytes(texts[4 * i]),
                        cell::Bytes(texts[4 * i + 1]), cell::Decimal{charge},
                        cell::Decimal{charge - r.below(50'000)}, cell::Bytes(texts[4 * i + 2]),
                        cell::Bytes(texts[4 * i + 3]),
                        cell::Date{static_cast<std::int32_t>(16'000 + r.below(4'000))}});
    }
    Table table("claims", schema);
    const double median = bench::median_seconds(runs, [&] {
        const auto t0 = Clock::now();
        for (std::size_t i = 0; i < count; ++i) {
            std::vector<Cell>& row = pool[i % kPool];
            row[0] = cell::Int{static_cast<std::int64_t>(i)};
            row[1] = cell::Int{static_cast<std::int64_t>(i * 7)};
            if (!table.push_row(row)) {
                std::fprintf(stderr, "append_row: row refused\n");
                std::exit(1);
            }
        }
        const auto t1 = Clock::now();
        g_sink = table.take_rows().rows();
        return seconds(t0, t1);
    });
    std::printf("stage=append_row rows_per_s=%.0f\n", static_cast<double>(count) / median);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    long count = 4'000'000, runs = 7;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--count" && has_value && bench::parse_count(argv[i + 1], count)) {
            ++i;
        } else if (arg == "--runs" && has_value && bench::parse_count(argv[i + 1], runs)) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: %s [--count N] [--runs N]\n", argv[0]);
            return 2;
        }
    }
    const auto n = static_cast<std::size_t>(count);
    const int r = static_cast<int>(runs);
    Rng rng;
    stage("parse_r", amounts(rng, n), r, [](std::string_view text) {
        const auto value = parse_r(text, 2);
        return value ? static_cast<std::uint64_t>(*value) : 0;
    });
    stage("civil_date", dates(rng, n), r, [](std::string_view text) -> std::uint64_t {
        const auto date = civil_date(text);
        return date ? date->year + date->month + date->day : 0;
    });
    stage("parse_tm", times(rng, n), r, [](std::string_view text) -> std::uint64_t {
        const auto value = parse_tm(text);
        return value ? *value : 0;
    });
    stage_append_row(n / 4, r);
    return 0;
}
