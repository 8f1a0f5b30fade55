// Diagnostics and rules: levels, kind names, sentences and the one-line text.
#include <gtest/gtest.h>

#include "diagnostic/diagnostic.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace remitrax {

namespace {

// The whole text a value writes.
template <class Value>
std::string text_of(const Value& value) {
    std::string out;
    StringSink sink(out);
    EXPECT_TRUE(value.write_to(sink));
    return out;
}

// " · " spelled as bytes, independent of how the source file is encoded.
const std::string kDot = " \xC2\xB7 ";

struct Case {
    Rule rule;
    std::string expected;
};

void expect_sentences(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(c.rule.to_string(), c.expected) << "kind " << c.rule.kind_name();
    }
}

Rule::CodeNotInList codes_rule(std::vector<std::string> codes) {
    return {"CAS", 2, std::nullopt, "adjustment_reason", std::move(codes)};
}

TEST(Rule, KindNamesAndLevelsFollowTheKindOrder) {
    const std::vector<std::pair<Rule, std::string_view>> rules = {
        {{Rule::ByteOrderMark{}}, "ByteOrderMark"},
        {{Rule::UnknownSegment{}}, "UnknownSegment"},
        {{Rule::ImplicitLoop{}}, "ImplicitLoop"},
        {{Rule::UnterminatedLoop{}}, "UnterminatedLoop"},
        {{Rule::ControlCountMismatch{}}, "ControlCountMismatch"},
        {{Rule::ControlElementMissing{}}, "ControlElementMissing"},
        {{Rule::ControlNumberMismatch{}}, "ControlNumberMismatch"},
        {{Rule::RequiredElementMissing{}}, "RequiredElementMissing"},
        {{Rule::TypeMismatch{}}, "TypeMismatch"},
        {{Rule::LengthOutOfRange{}}, "LengthOutOfRange"},
        {{Rule::ValueDropped{}}, "ValueDropped"},
        {{Rule::CompositeShape{}}, "CompositeShape"},
        {{Rule::CodeNotInList{}}, "CodeNotInList"},
    };
    ASSERT_EQ(rules.size(), 13U);
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const auto& [rule, name] = rules[i];
        EXPECT_EQ(rule.kind.index(), i);
        EXPECT_EQ(rule.kind_name(), name);
        EXPECT_EQ(rule.level(), SnipLevel{static_cast<std::uint8_t>(i < 7 ? 0 : 1)}) << name;
    }
    for (const std::uint8_t level : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{2}}) {
        const Rule external{Rule::External{"checker", "bad", std::nullopt, SnipLevel{level}}};
        EXPECT_EQ(external.kind_name(), "External");
        EXPECT_EQ(external.level(), SnipLevel{level});
    }
}

TEST(Rule, SnipLevelTextIsTheStoredValuePlusOne) {
    EXPECT_EQ(text_of(SnipLevel{0}), "SNIP 1");
    EXPECT_EQ(text_of(SnipLevel{1}), "SNIP 2");
    EXPECT_EQ(text_of(SnipLevel{2}), "SNIP 3");
    EXPECT_EQ(SnipLevel{2}.number(), 3U);
}

TEST(Rule, StructureSentences) {
    expect_sentences({
        {{Rule::ByteOrderMark{}},
         "the input starts with a UTF-8 byte order mark, kept as leading trivia of the first "
         "segment"},
        {{Rule::UnknownSegment{"ZZ\xFF"}},
         R"(segment "ZZ\xFF" is not part of the structure: no open loop holds it and it opens )"
         "no loop"},
        {{Rule::ImplicitLoop{"2100", R"("CLP" with no conditions)", "CAS"}},
         R"(loop "2100" opened without its own trigger ("CLP" with no conditions) to hold )"
         R"(segment "CAS")"},
        {{Rule::UnterminatedLoop{"transaction", 3, "SE"}},
         R"(loop "transaction" opened at segment #3 closed without its end segment "SE")"},
        {{Rule::UnterminatedLoop{"my \"loop\"", std::nullopt, "SE"}},
         R"(loop "my \"loop\"" closed without its end segment "SE")"},
    });
}

TEST(Rule, ControlSentencesNeverShowAComponent) {
    expect_sentences({
        {{Rule::ControlCountMismatch{"SE", 1, "0012", 11}},
         R"(SE01 declares "0012" but the count is 11)"},
        {{Rule::ControlElementMissing{"GE", 2}},
         "control element GE02 is missing: the segment has no element 2"},
        {{Rule::ControlNumberMismatch{0, {"IEA", 2, "000000905"}, {"ISA", 13, "000000906"}}},
         R"(IEA02 "000000905" does not match ISA13 "000000906" of segment #0)"},
        {{Rule::ControlNumberMismatch{std::nullopt, {"SE", 2, "1"}, {"ST", 2, ""}}},
         R"(SE02 "1" does not match ST02 "")"},
    });
}

TEST(Rule, ElementSentences) {
    expect_sentences({
        {{Rule::RequiredElementMissing{"CLP", 2, std::nullopt, "claim_status_code"}},
         "required element CLP02 (claim_status_code) is missing or empty"},
        {{Rule::RequiredElementMissing{"SVC", 1, 2, "procedure_code"}},
         "required element SVC01-2 (procedure_code) is missing or empty"},
        {{Rule::TypeMismatch{"CLP", 3, std::nullopt, "charge", {ElementKind::R, 2}}},
         "element CLP03 (charge) is not a valid R (decimal, scale 2)"},
        {{Rule::TypeMismatch{"SVC", 1, 7, "units", {ElementKind::N, 2}}},
         "element SVC01-7 (units) is not a valid N2 (integer with 2 implied decimals)"},
        {{Rule::CompositeShape{"SVC", 1, "procedure", 9, 7}},
         "element SVC01 (procedure) has 9 components; the spec declares 7"},
        {{Rule::ValueDropped{"payer name", "claims", 2147483650}},
         R"(text for column "payer name" of table "claims" was not stored: it would bring the )"
         "column to 2147483650 bytes and a column holds at most 2147483647"},
    });
}

TEST(Rule, LengthOutOfRangeShowsTheFourRanges) {
    const auto rule = [](std::optional<std::uint64_t> min, std::optional<std::uint64_t> max) {
        return Rule{Rule::LengthOutOfRange{"NM1", 3, std::nullopt, "last_name", 7, min, max}};
    };
    const std::string head = "element NM103 (last_name) has length 7; the spec allows ";
    expect_sentences({
        {rule(std::nullopt, std::nullopt), head + "any length"},
        {rule(std::nullopt, 5), head + "at most 5"},
        {rule(2, std::nullopt), head + "at least 2"},
        {rule(2, 5), head + "2 to 5"},
    });
    EXPECT_EQ((Rule{Rule::LengthOutOfRange{"C", 1, 3, "n", 0, 1, 1}}.to_string()),
              "element C01-3 (n) has length 0; the spec allows 1 to 1");
}

TEST(Rule, CodeNotInListListsAtMostFiveCodes) {
    const std::string head = "element CAS02 (adjustment_reason) is not ";
    expect_sentences({
        {{codes_rule({"A\"1"})}, head + R"(the one code the spec lists for it ("A\"1"))"},
        {{codes_rule({"1", "2", "3", "4", "\xFF"})},
         head + R"(one of the 5 codes the spec lists for it ("1", "2", "3", "4", "\xFF"))"},
        {{codes_rule({"1", "2", "3", "4", "5", "6"})},
         head + "one of the 6 codes the spec lists for it"},
    });
}

TEST(Rule, ExternalShowsOriginAndOptionalCode) {
    expect_sentences({
        {{Rule::External{"payer rules", "claim is late", std::nullopt, {2}}},
         "claim is late (reported by payer rules)"},
        {{Rule::External{"payer rules", "claim is late", "L-7", {2}}},
         "claim is late (reported by payer rules, code L-7)"},
        {{Rule::External{"v", "m", "", {0}}}, "m (reported by v, code )"},
    });
}

TEST(LoopRef, NameIsRenderedAsAKey) {
    const std::vector<std::pair<LoopRef, std::string>> cases = {
        {{"transaction", 1}, "transaction#1"},
        {{"2100", 3}, "2100#3"},
        {{"1000A", 18446744073709551615U}, "1000A#18446744073709551615"},
        {{"a/b", 1}, R"("a/b"#1)"},
        {{"x#2", 1}, R"("x#2"#1)"},
        {{"pay er", 2}, R"("pay er"#2)"},
        {{"", 1}, R"(""#1)"},
    };
    for (const auto& [loop, expected] : cases) {
        EXPECT_EQ(loop.to_string(), expected);
    }
}

TEST(ElementRef, PadsTheElementToTwoDigitsButNeverTheComponent) {
    const std::vector<std::pair<ElementRef, std::string>> cases = {
        {{"CLP", 2, std::nullopt}, "CLP02"},
        {{"SVC", 1, 2}, "SVC01-2"},
        {{"SVC", 1, 12}, "SVC01-12"},
        {{"NM1", 9, std::nullopt}, "NM109"},
        {{"PLB", 13, std::nullopt}, "PLB13"},
        {{"XX", 100, std::nullopt}, "XX100"},
        {{"N\xFF", 1, std::nullopt},
         "N\xEF\xBF\xBD"
         "01"},
        {{"", 0, 0}, "00-0"},
    };
    for (const auto& [ref, expected] : cases) {
        EXPECT_EQ(text_of(ref), expected);
    }
}

TEST(QuotedView, EscapesTextAndShowsInvalidBytesInHex) {
    const std::vector<std::pair<std::string_view, std::string>> cases = {
        {"", R"("")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"a\\b", R"("a\\b")"},
        {"\t\r\n", R"("\t\r\n")"},
        {std::string_view("\0", 1), R"("\0")"},
        {"\x7F", R"("\u{7f}")"},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
        {"ab\xFF"
         "cd",
         R"("ab\xFFcd")"},
        {"\xE2\x82", R"("\xE2\x82")"},
    };
    for (const auto& [bytes, expected] : cases) {
        EXPECT_EQ(text_of(Quoted{bytes}), expected);
    }
}

Diagnostic clp02_missing() {
    return Diagnostic{
        .segment = 14,
        .element = 2,
        .component = std::nullopt,
        .rule = {Rule::RequiredElementMissing{"CLP", 2, std::nullopt, "claim_status_code"}},
        .loops = {{"interchange", 1}, {"group", 1}, {"transaction", 1}, {"2000", 1}, {"2100", 1}},
        .datum = "",
        .level = SnipLevel{1},
    };
}

TEST(Diagnostic, OneLineTextJoinsLevelSentencePlaceLoopsAndDatum) {
    EXPECT_EQ(clp02_missing().to_string(),
              "SNIP 2" + kDot + "required element CLP02 (claim_status_code) is missing or empty" +
                  kDot + "segment #14, element 2" + kDot +
                  "at interchange#1/group#1/transaction#1/2000#1/2100#1" + kDot + "datum \"\"");

    Diagnostic at_end{.segment = std::nullopt,
                      .element = std::nullopt,
                      .component = std::nullopt,
                      .rule = {Rule::UnterminatedLoop{"transaction", 5, "SE"}},
                      .loops = {},
                      .datum = "a\"\\\xFF",
                      .level = SnipLevel{0}};
    EXPECT_EQ(at_end.to_string(),
              "SNIP 1" + kDot +
                  R"(loop "transaction" opened at segment #5 closed without its end segment "SE")" +
                  kDot + "end of stream" + kDot + "at the root" + kDot + R"(datum "a\"\\\xFF")");

    Diagnostic component{.segment = 0,
                         .element = 1,
                         .component = 2,
                         .rule = {Rule::External{"o", "m", std::nullopt, {2}}},
                         .loops = {{"a/b", 2}, {"#", 1}},
                         .datum = "x",
                         .level = SnipLevel{2}};
    EXPECT_EQ(component.to_string(), "SNIP 3" + kDot + "m (reported by o)" + kDot +
                                         "segment #0, element 1, component 2" + kDot +
                                         R"(at "a/b"#2/"#"#1)" + kDot + R"(datum "x")");

    component.element.reset();
    EXPECT_EQ(component.to_string(), "SNIP 3" + kDot + "m (reported by o)" + kDot + "segment #0" +
                                         kDot + R"(at "a/b"#2/"#"#1)" + kDot + R"(datum "x")");
}

// Records every chunk and fails the write numbered `fail_at` (0-based) with that number.
struct FailingSink {
    explicit FailingSink(std::size_t n) : fail_at(n) {}

    std::size_t fail_at;
    std::vector<std::string> chunks;

    std::expected<void, std::size_t> write(std::string_view text) {
        chunks.emplace_back(text);
        if (chunks.size() - 1 == fail_at) {
            return std::unexpected(fail_at);
        }
        return {};
    }
};

// The same through the plain interface: false is the failure.
class CountingSink final : public TextSink {
  public:
    explicit CountingSink(std::size_t fail_at) : fail_at_(fail_at) {}
    bool write(std::string_view) override { return ++writes_ <= fail_at_; }
    std::size_t writes() const { return writes_; }

  private:
    std::size_t fail_at_;
    std::size_t writes_ = 0;
};

TEST(Diagnostic, FailingSinkStopsTheWritingAndPassesItsFailureUp) {
    const Diagnostic diagnostic = clp02_missing();
    FailingSink never(static_cast<std::size_t>(-1));
    ASSERT_TRUE(write_text(never, diagnostic).has_value());
    std::string whole;
    for (const std::string& chunk : never.chunks) {
        whole += chunk;
    }
    ASSERT_EQ(whole, diagnostic.to_string());
    const std::size_t total = never.chunks.size();
    ASSERT_GT(total, 10U);

    for (std::size_t n = 0; n < total; ++n) {
        FailingSink sink(n);
        const std::expected<void, std::size_t> result = write_text(sink, diagnostic);
        ASSERT_FALSE(result.has_value()) << n;
        EXPECT_EQ(result.error(), n);
        EXPECT_EQ(sink.chunks.size(), n + 1);

        CountingSink counting(n);
        EXPECT_FALSE(diagnostic.write_to(counting)) << n;
        EXPECT_EQ(counting.writes(), n + 1);
    }

    FailingSink first(0);
    EXPECT_EQ(write_text(first, Rule{Rule::ByteOrderMark{}}).error(), 0U);
    FailingSink quoted(0);
    EXPECT_EQ(write_text(quoted, Quoted{"x"}).error(), 0U);
    EXPECT_EQ(quoted.chunks, std::vector<std::string>{R"("x")"});
}

}  // namespace

}  // namespace remitrax
