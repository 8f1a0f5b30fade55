// Splitting a segment body into elements and components, and removing release characters.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
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

// The split written the plain way, byte by byte: pieces at unescaped separators, release
// bytes removed from values but kept in the id.
std::vector<std::string> split_bytewise(std::string_view body, const Delimiters& d,
                                        std::string& id) {
    const auto cut = [&](std::string_view text, char separator) {
        std::vector<std::string_view> pieces;
        std::size_t from = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (d.release && text[i] == *d.release) {
                ++i;
            } else if (text[i] == separator) {
                pieces.push_back(text.substr(from, i - from));
                from = i + 1;
            }
        }
        pieces.push_back(text.substr(from));
        return pieces;
    };
    const auto plain = [&](std::string_view raw) {
        std::string out;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (d.release && raw[i] == *d.release) {
                ++i;
                if (i == raw.size()) {
                    break;
                }
            }
            out += raw[i];
        }
        return out;
    };
    const auto pieces = cut(body, d.element);
    id = std::string(pieces[0]);
    std::vector<std::string> out;
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const auto parts = cut(pieces[i], d.component);
        if (parts.size() == 1) {
            out.push_back(plain(parts[0]));
            continue;
        }
        std::string shown = "{";
        for (const auto part : parts) {
            shown += plain(part) + ",";
        }
        shown.back() = '}';
        out.push_back(shown);
    }
    return out;
}

// Bodies of every length up to 80 with separators on both sides of each 8- and 16-byte
// boundary, composites that span them, and delimiters that are equal or the zero byte.
TEST(Segment, SplitsLikeTheBytewiseSplitAtEveryLength) {
    const Delimiters cases[] = {
        delimiters(),
        delimiters('?'),
        Delimiters{'*', '*', '~', std::nullopt, std::nullopt},
        Delimiters{'\0', ':', '~', std::nullopt, std::nullopt},
        Delimiters{'*', '\0', '~', std::nullopt, std::nullopt},
        Delimiters{'*', ':', '~', std::nullopt, '\0'},
    };
    Segment reused;
    std::size_t checked = 0;
    for (const Delimiters& d : cases) {
        const char e = d.element;
        const char c = d.component;
        const char r = d.release.value_or('?');
        for (std::size_t n = 0; n <= 80; ++n) {
            for (std::size_t k = 0; k < 6; ++k) {
                // Separators at positions depending on k, with a component run every third
                // element and an escape now and then.
                std::string body;
                for (std::size_t i = 0; i < n; ++i) {
                    const std::size_t step = i * (k + 3) + k;
                    if (i == 2 || step % 7 == 0) {
                        body += e;
                    } else if (step % 11 == 0 || (k == 5 && i % 17 > 12)) {
                        body += c;
                    } else if (step % 13 == 0) {
                        body += r;
                    } else {
                        body += static_cast<char>('A' + i % 26);
                    }
                }
                SCOPED_TRACE(testing::Message() << "body " << testing::PrintToString(body));
                std::string id;
                const auto expected = split_bytewise(body, d, id);
                const Segment fresh = parse(body, d);
                EXPECT_EQ(fresh.id(), id);
                EXPECT_EQ(show(fresh), expected);
                reused.reparse(n, Frame{body, body, false}, d);
                EXPECT_EQ(reused.id(), id);
                EXPECT_EQ(show(reused), expected);
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, std::size(cases) * 81 * 6);
}

TEST(Segment, CopiesKeepTheirValuesWhenTheOriginalChanges) {
    const std::string input = "CLP*A?*B*PLAIN*HC:X?:Y*" + std::string(40, 'z') + ":1:2";
    const std::vector<std::string> expected = {"A*B", "PLAIN", "{HC,X:Y}",
                                               "{" + std::string(40, 'z') + ",1,2}"};
    auto original = std::make_unique<Segment>(parse(input, delimiters('?')));
    const Segment copied(*original);
    Segment assigned;
    assigned = *original;
    // Owned copies are the copy's own, not the original's.
    const auto owned_apart = [&](const Segment& s) {
        const auto data = [](const Segment& of, std::size_t element, std::size_t component) {
            const Element& e = of.elements()[element];
            return e.is_composite() ? e.components()[component].bytes().data()
                                    : e.value().bytes().data();
        };
        return data(s, 0, 0) != data(*original, 0, 0) && data(s, 2, 1) != data(*original, 2, 1);
    };
    EXPECT_TRUE(owned_apart(copied));
    EXPECT_TRUE(owned_apart(assigned));
    // Refilling and then destroying the original leaves the copies whole.
    original->reparse(1, Frame{"X*?:?:", "X*?:?:", false}, delimiters('?'));
    EXPECT_EQ(show(*original), (std::vector<std::string>{"::"}));
    original.reset();
    const Segment* const copies[] = {&copied, &assigned};
    for (const Segment* s : copies) {
        EXPECT_EQ(s->id(), "CLP");
        EXPECT_EQ(show(*s), expected);
        EXPECT_TRUE(s->elements()[0].value().is_owned());
        EXPECT_FALSE(s->elements()[1].value().is_owned());
    }
    // A moved segment keeps every view.
    Segment moved(std::move(assigned));
    EXPECT_EQ(show(moved), expected);
}

TEST(Element, RefilledOnItsOwnLikeInASegment) {
    const struct {
        std::string value;
        std::optional<char> release;
        std::string expected;
    } cases[] = {
        {"", {}, ""},
        {"PLAIN", {}, "PLAIN"},
        {"HC:99213:25", {}, "{HC,99213,25}"},
        {":", {}, "{,}"},
        {"HC?::1", '?', "{HC:,1}"},
        {"A??B", '?', "A?B"},
        {std::string(30, 'x') + ":" + std::string(30, 'y'),
         {},
         "{" + std::string(30, 'x') + "," + std::string(30, 'y') + "}"},
    };
    Element reused;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Element fresh;
        fresh.reparse(c.value, ':', c.release);
        EXPECT_EQ(show(fresh), c.expected);
        reused.reparse(c.value, ':', c.release);
        EXPECT_EQ(show(reused), c.expected);
        // A copy outlives the element it was made from.
        auto original = std::make_unique<Element>();
        original->reparse(c.value, ':', c.release);
        const Element copied(*original);
        original.reset();
        EXPECT_EQ(show(copied), c.expected);
    }
}

TEST(ElementText, SimpleViewCompositeJoinedAbsentOutside) {
    const Segment segment = parse("XX*a*b:c*:*d:*", delimiters());
    struct Case {
        std::uint64_t position;
        char separator;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {0, ':', std::nullopt}, {1, ':', "a"},          {2, ':', "b:c"},
        {2, '^', "b^c"},        {3, '-', "-"},          {4, '^', "d^"},
        {5, ':', ""},           {6, ':', std::nullopt}, {~std::uint64_t{0}, ':', std::nullopt},
    };
    std::string scratch;
    for (const Case& c : cases) {
        const auto text =
            remitrax::element_text(segment.elements(), c.position, c.separator, scratch);
        EXPECT_EQ(text ? std::optional<std::string>(*text) : std::nullopt, c.expected)
            << c.position << c.separator;
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
