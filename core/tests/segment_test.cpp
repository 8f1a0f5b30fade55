// Splitting a segment body into elements and components, and removing release characters.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "x12/segment.hpp"

namespace {

using remitrax::Delimiters;
using remitrax::Element;
using remitrax::Frame;
using remitrax::Segment;
using remitrax::Value;
constexpr auto npos = std::string_view::npos;

Delimiters delimiters(std::optional<char> release = std::nullopt) {
    return Delimiters{'*', ':', '~', '^', release};
}

Segment parse(std::string_view body, const Delimiters& d) {
    Segment s;
    s.reparse(0, Frame{body, body, false}, d);
    return s;
}

// A simple element as its value, a composite one as "{a,b,c}".
std::string show(const Element& e) {
    if (!e.is_composite()) {
        return std::string(e.value().bytes());
    }
    std::string out = "{";
    for (const Value& c : e.components()) {
        out += std::string(c.bytes()) + ",";
    }
    out.back() = '}';
    return out;
}

std::vector<std::string> show(const Segment& s) {
    std::vector<std::string> out;
    for (const Element& e : s.elements()) {
        out.push_back(show(e));
    }
    return out;
}

TEST(Segment, SplitsElementsAndComponents) {
    const struct {
        std::string_view body;
        std::optional<char> release;
        std::string_view id;
        std::vector<std::string> elements;
    } cases[] = {
        {"N1*PR*ACME", {}, "N1", {"PR", "ACME"}},
        {"N1*PR*", {}, "N1", {"PR", ""}},
        {"N1", {}, "N1", {}},
        {"N1*", {}, "N1", {""}},
        {"", {}, "", {}},
        {"SV1*HC:99213:25*1", {}, "SV1", {"{HC,99213,25}", "1"}},
        {"SV1*HC:", {}, "SV1", {"{HC,}"}},
        {"SV1*:", {}, "SV1", {"{,}"}},
        // The repetition separator is carried, never used to split.
        {"REF*A^B*C:D^E", {}, "REF", {"A^B", "{C,D^E}"}},
        // A release byte escapes the byte after it and is removed from the value.
        {"N1*A?*B", '?', "N1", {"A*B"}},
        {"N1*A??B", '?', "N1", {"A?B"}},
        {"N1*AB?", '?', "N1", {"AB"}},
        {"N1*A?:B", '?', "N1", {"A:B"}},
        {"N1*A?**B", '?', "N1", {"A*", "B"}},
        {"N1*??*B", '?', "N1", {"?", "B"}},
        {"SV1*HC?::1", '?', "SV1", {"{HC:,1}"}},
        // The id is kept exactly as written.
        {"X?*Y*Z", '?', "X?*Y", {"Z"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const Segment s = parse(c.body, delimiters(c.release));
        EXPECT_EQ(s.id(), c.id);
        EXPECT_EQ(show(s), c.elements);
    }
}

TEST(Segment, ValuesAreViewsUnlessReleaseCharactersWereRemoved) {
    const std::string input = "CLP*A?*B*PLAIN*HC:X?:Y";
    const Segment s = parse(input, delimiters('?'));
    ASSERT_EQ(s.elements().size(), 3u);
    const auto inside = [&](std::string_view v) {
        return v.data() >= input.data() && v.data() + v.size() <= input.data() + input.size();
    };
    const Value& escaped = s.elements()[0].value();
    EXPECT_TRUE(escaped.is_owned());
    EXPECT_EQ(escaped.bytes(), "A*B");
    EXPECT_FALSE(inside(escaped.bytes()));

    const Value& plain = s.elements()[1].value();
    EXPECT_FALSE(plain.is_owned());
    EXPECT_EQ(plain.bytes().data(), input.data() + input.find("PLAIN"));

    const auto components = s.elements()[2].components();
    ASSERT_EQ(components.size(), 2u);
    EXPECT_FALSE(components[0].is_owned());
    EXPECT_TRUE(inside(components[0].bytes()));
    EXPECT_TRUE(components[1].is_owned());
    EXPECT_EQ(components[1].bytes(), "X:Y");

    EXPECT_TRUE(inside(s.id()));
    EXPECT_TRUE(inside(s.raw()));
}

TEST(Segment, ReuseKeepsOnlyTheNewShape) {
    const Delimiters d = delimiters('?');
    Segment s;
    s.reparse(0, Frame{"A*2:3:4*1*3*4*5~", "A*2:3:4*1*3*4*5", true}, d);
    EXPECT_EQ(show(s), (std::vector<std::string>{"{2,3,4}", "1", "3", "4", "5"}));
    s.reparse(1, Frame{" B*x?*:y*z", "B*x?*:y*z", false}, d);
    EXPECT_EQ(s.index(), 1u);
    EXPECT_EQ(s.id(), "B");
    EXPECT_FALSE(s.terminated());
    EXPECT_EQ(s.raw(), " B*x?*:y*z");
    EXPECT_EQ(show(s), (std::vector<std::string>{"{x*,y}", "z"}));
    s.reparse(2, Frame{"C*x?*y", "C*x?*y", false}, d);
    ASSERT_EQ(s.elements().size(), 1u);
    EXPECT_FALSE(s.elements()[0].is_composite());
    EXPECT_TRUE(s.elements()[0].components().empty());
    EXPECT_EQ(s.elements()[0].value().bytes(), "x*y");
    s.reparse(3, Frame{"D*plain", "D*plain", false}, d);
    EXPECT_FALSE(s.elements()[0].value().is_owned());
    EXPECT_EQ(s.elements()[0].value().bytes(), "plain");
}

// Values of 16 bytes and more are searched with memchr, shorter ones with a loop.
TEST(Segment, LongValuesAcrossTheSearchSwitch) {
    for (std::size_t n = 12; n <= 40; ++n) {
        SCOPED_TRACE(n);
        const std::string pad(n, 'x');
        const std::string shorter(n - 1, 'x');
        const struct {
            std::string value;
            std::optional<char> release;
            std::string expected;
            bool owned;
        } cases[] = {
            {pad, {}, pad, false},
            {pad, '?', pad, false},
            {shorter + ":", {}, "{" + shorter + ",}", false},
            {shorter + "?", '?', shorter, true},
            {pad.substr(2) + "?:", '?', pad.substr(2) + ":", true},
            {"?" + shorter, '?', shorter, true},
        };
        for (const auto& c : cases) {
            // The value comes last: a trailing release byte would escape a separator.
            const std::string body = "E*Z*" + c.value;
            const Segment s = parse(body, delimiters(c.release));
            ASSERT_EQ(s.elements().size(), 2u) << c.value;
            EXPECT_EQ(show(s.elements()[0]), "Z");
            const Element& e = s.elements()[1];
            EXPECT_EQ(show(e), c.expected);
            EXPECT_EQ(e.is_composite() ? e.components()[0].is_owned() : e.value().is_owned(),
                      c.owned)
                << c.value;
        }
    }
}

TEST(Unescape, RemovesReleaseCharactersAndBorrowsWhenThereAreNone) {
    const std::string long_value(20, 'x');
    const struct {
        std::string value;
        std::optional<char> release;
        std::string expected;
    } cases[] = {
        {"ABC", '?', "ABC"},           {"A?B", {}, "A?B"},
        {"A?*B", '?', "A*B"},          {"????", '?', "??"},
        {long_value, '?', long_value}, {long_value + "?y", '?', long_value + "y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::string out = "stale";
        const std::string_view got = remitrax::unescape(c.value, c.release, out);
        EXPECT_EQ(got, c.expected);
        const bool copied = c.release && c.value.find(*c.release) != std::string::npos;
        EXPECT_EQ(got.data(), copied ? out.data() : c.value.data());
    }
}

TEST(FindUnescaped, SkipsEscapedBytes) {
    const std::string pad(20, 'x');
    const struct {
        std::string bytes;
        char target;
        std::optional<char> release;
        std::size_t expected;
    } cases[] = {
        {"ab*c", '*', {}, 2},
        {"a?*b*", '*', '?', 4},
        {"a??*", '*', '?', 3},
        {"a?*", '*', '?', npos},
        {"a?*", '*', {}, 2},
        // A release byte equal to the target is an escape, never a match.
        {"a?b", '?', '?', npos},
        {pad + "*", '*', {}, 20},
        {pad + "?**", '*', '?', 22},
        {pad + "?*", '*', '?', npos},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(remitrax::find_unescaped(c.bytes, c.target, c.release), c.expected);
    }
}

TEST(Pieces, SplitsRawComponentsAndEndsForGood) {
    const struct {
        std::string_view rest;
        std::optional<char> release;
        std::vector<std::string_view> expected;
    } cases[] = {
        {"a:b", {}, {"a", "b"}},  {"a:", {}, {"a", ""}},          {"", {}, {""}},
        {"::", {}, {"", "", ""}}, {"a?:b:c", '?', {"a?:b", "c"}}, {"a?", '?', {"a?"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rest);
        remitrax::Pieces pieces(c.rest, ':', c.release);
        std::vector<std::string_view> got;
        while (const auto piece = pieces.next()) {
            got.push_back(*piece);
        }
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(pieces.next(), std::nullopt);
    }
}

}  // namespace
