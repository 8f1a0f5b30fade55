// Reading the delimiters from the ISA header: the separators are found by scanning, never
// by fixed columns, and every failure has a message a user can act on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "x12/delimiters.hpp"

namespace {

using namespace std::literals;
using remitrax::Delimiters;
using remitrax::IsaError;

constexpr std::string_view padded =
    "ISA*00*          *00*          *ZZ*SENDER         *ZZ*RECEIVER       "
    "*200101*1200*^*00501*000000001*0*P*:~";
constexpr std::string_view unpadded = "ISA*00**00**ZZ*A*ZZ*B*200101*1200*^*00501*1*0*P*:~";

// The unpadded header with other delimiters.
std::string retyped(char element, char component, char segment) {
    std::string h(unpadded);
    std::ranges::replace(h, '*', element);
    h[h.size() - 2] = component;
    h.back() = segment;
    return h;
}

std::string show(char c) {
    if (c >= 0x21 && c <= 0x7e) {
        return std::string(1, c);
    }
    static constexpr char digits[] = "0123456789abcdef";
    const auto b = static_cast<unsigned char>(c);
    return {'0', 'x', digits[b >> 4], digits[b & 0x0f]};
}

// "element component segment repetition release", with "-" for an absent one.
std::string show(const Delimiters& d) {
    return show(d.element) + " " + show(d.component) + " " + show(d.segment) + " " +
           (d.repetition ? show(*d.repetition) : "-") + " " + (d.release ? show(*d.release) : "-");
}

std::string read(std::string_view input) {
    const auto d = Delimiters::from_isa_after_leading_trivia(input);
    return d ? show(*d) : "error: " + d.error().to_string();
}

TEST(IsaHeader, ReadsDelimitersFromSeparatorPositions) {
    const struct {
        std::string input;
        std::string_view expected;
    } cases[] = {
        {std::string(padded), "* : ~ ^ -"},
        {std::string(unpadded), "* : ~ ^ -"},
        // Whatever follows the terminator is not looked at.
        {"ISA*00**00**ZZ*A*ZZ*B*200101*1200*^*00501*1*0*P*:~GS*HP~\xff"s, "* : ~ ^ -"},
        {retyped('|', '>', '\n'), "| > 0x0a ^ -"},
        {retyped('\x1d', '\x1f', '\x1c'), "0x1d 0x1f 0x1c ^ -"},
        // Before version 00402 ISA11 is a standards identifier, not a separator.
        {"ISA*00**00**ZZ*A*ZZ*B*200101*1200*U*00401*1*0*P*:~", "* : ~ - -"},
        {"ISA*00**00**ZZ*A*ZZ*B*200101*1200*^^*00501*1*0*P*:~", "* : ~ - -"},
        {"ISA*00**00**ZZ*A*ZZ*B*200101*1200**00501*1*0*P*:~", "* : ~ - -"},
        // A separator byte inside a field is a separator: the sixteenth comes one field
        // early, so the component separator is 'P' and the terminator is '*'.
        {"ISA*00*A*B*00**ZZ*A*ZZ*B*200101*1200*^*00501*1*0*P*:~", "* P * - -"},
        // Leading trivia: one byte order mark at offset 0, then TAB, LF, CR and SPACE.
        {"\xEF\xBB\xBF\r\n\t "s + std::string(unpadded), "* : ~ ^ -"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(read(c.input), c.expected);
    }
}

TEST(IsaHeader, RepetitionSeparatorFromVersion00402On) {
    const struct {
        std::string_view isa12;
        bool repetition;
    } cases[] = {
        {"00402", true},   {"004020", true}, {"00501", true}, {"99999", true},
        {"0041", true},    {"1", true},      {"\x80", true},  {"00401", false},
        {"004019", false}, {"0040", false},  {"0", false},    {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.isa12);
        const std::string header =
            "ISA*00**00**ZZ*A*ZZ*B*200101*1200*^*" + std::string(c.isa12) + "*1*0*P*:~";
        const auto d = Delimiters::from_isa(header);
        ASSERT_TRUE(d.has_value()) << d.error().to_string();
        EXPECT_EQ(d->repetition, c.repetition ? std::optional<char>('^') : std::nullopt);
    }
}

TEST(IsaHeader, ErrorMessages) {
    const struct {
        std::string input;
        std::string_view message;
    } cases[] = {
        {"", "input does not start with an ISA segment (input is empty)"},
        {"\xEF\xBB\xBF\n\n",
         "input does not start with an ISA segment (input holds only a UTF-8 byte order mark "
         "and 2 bytes of whitespace)"},
        {" GS*HP",
         "input does not start with an ISA segment (found bytes [47 53 2a 48 50] after "
         "skipping 1 byte of whitespace)"},
        // A byte order mark after whitespace is data; at most eight bytes are shown.
        {" \xEF\xBB\xBFISA*00*",
         "input does not start with an ISA segment (found bytes [ef bb bf 49 53 41 2a 30] "
         "after skipping 1 byte of whitespace)"},
        {"isa*00*",
         "input does not start with an ISA segment (found bytes [69 73 61 2a 30 30 2a])"},
        {"IS", "input does not start with an ISA segment (found bytes [49 53])"},
        {"\x00\x0f\xffISA"s,
         "input does not start with an ISA segment (found bytes [00 0f ff 49 53 41])"},
        // Vertical tab and form feed are not whitespace.
        {"\vISA*", "input does not start with an ISA segment (found bytes [0b 49 53 41 2a])"},
        {"\t\fISA",
         "input does not start with an ISA segment (found bytes [0c 49 53 41] after "
         "skipping 1 byte of whitespace)"},
        {"ISA", "ISA segment truncated after 3 bytes: found 0 of 16 element separators"},
        {"ISA*", "ISA segment truncated after 4 bytes: found 1 of 16 element separators"},
        {"ISA*00*", "ISA segment truncated after 7 bytes: found 2 of 16 element separators"},
        {" \r\nISA*00*",
         "ISA segment truncated after 7 bytes (counted after skipping 3 bytes of whitespace): "
         "found 2 of 16 element separators"},
        {"\xEF\xBB\xBFISA",
         "ISA segment truncated after 3 bytes (counted after skipping a UTF-8 byte order "
         "mark): found 0 of 16 element separators"},
        {std::string(unpadded.substr(0, 48)),
         "ISA segment truncated after 48 bytes: ISA16 or the terminator is missing"},
        {std::string(unpadded.substr(0, 49)),
         "ISA segment truncated after 49 bytes: ISA16 or the terminator is missing"},
        {"\xEF\xBB\xBF\n"s + std::string(unpadded.substr(0, 49)),
         "ISA segment truncated after 49 bytes (counted after skipping a UTF-8 byte order mark "
         "and 1 byte of whitespace): ISA16 or the terminator is missing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(read(c.input), "error: " + std::string(c.message));
    }
}

TEST(IsaHeader, OnlyTheTriviaStepSkipsAndReportsWhatItSkipped) {
    constexpr std::string_view input = "\xEF\xBB\xBF\r\nISA*00*";
    const auto after_trivia = Delimiters::from_isa_after_leading_trivia(input);
    ASSERT_FALSE(after_trivia.has_value());
    EXPECT_TRUE(after_trivia.error() ==
                (IsaError{IsaError::Truncated{7, 2, remitrax::Skipped{2, true}}}));
    const auto plain = Delimiters::from_isa(input);
    ASSERT_FALSE(plain.has_value());
    EXPECT_TRUE(plain.error() == (IsaError{IsaError::NotIsa{std::string(input.substr(0, 8)), {}}}));
}

TEST(IsaHeader, EveryProperPrefixOfAHeaderIsRefused) {
    for (std::size_t len = 0; len < padded.size(); ++len) {
        SCOPED_TRACE(len);
        const std::string_view prefix = padded.substr(0, len);
        const auto d = Delimiters::from_isa(prefix);
        ASSERT_FALSE(d.has_value());
        const IsaError expected =
            len < 3 ? IsaError{IsaError::NotIsa{std::string(prefix), {}}}
                    : IsaError{IsaError::Truncated{
                          len,
                          static_cast<std::size_t>(std::ranges::count(prefix.substr(3), '*')),
                          {}}};
        EXPECT_TRUE(d.error() == expected) << d.error().to_string();
    }
    EXPECT_TRUE(Delimiters::from_isa(padded).has_value());
}

}  // namespace
