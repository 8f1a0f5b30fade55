// Reading spec JSON text: the value tree it gives and the texts it refuses.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/text.hpp"
#include "spec/error.hpp"
#include "spec/json.hpp"

namespace {

using nlohmann::json;
using remitrax::read_json;

// The message of a refused text; "" when the text was accepted.
std::string failure(std::string_view text) {
    const auto result = read_json(text);
    if (result) {
        return "";
    }
    const auto* e = std::get_if<remitrax::SpecError::Json>(&result.error().kind);
    return e == nullptr ? "not a Json error: " + result.error().debug()
                        : result.error().to_string();
}

std::string nested(std::size_t depth, std::string_view inner = "1") {
    return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

// Objects nested through the key "a", left open.
std::string objects(std::size_t depth) {
    std::string out;
    for (std::size_t i = 0; i < depth; ++i) {
        out += "{\"a\":";
    }
    return out;
}

bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto unit = remitrax::decode_utf8(s, i);
        if (!unit.valid) {
            return false;
        }
        i += unit.length;
    }
    return true;
}

TEST(SpecJson, ReadsTheValueTree) {
    const auto v = read_json(
        "\xef\xbb\xbf{\"b\": [true, null, \"x\"], \"\xc3\xa9\": 1, \"a\": {\"Z\": -2, \"z\": 2.5},"
        " \"B\": \"\\ud83d\\ude00\"}");
    ASSERT_TRUE(v) << v.error().to_string();
    std::vector<std::string> keys;
    for (const auto& [key, value] : v->items()) {
        keys.push_back(key);
    }
    // Bytewise order: upper case before lower case, non-ASCII after all ASCII.
    EXPECT_EQ(keys, (std::vector<std::string>{"B", "a", "b", "\xc3\xa9"}));
    EXPECT_EQ((*v)["b"], json::parse(R"([true, null, "x"])"));
    EXPECT_EQ((*v)["B"].get<std::string>(), "\xf0\x9f\x98\x80");
    EXPECT_TRUE((*v)["\xc3\xa9"].is_number_unsigned());
    EXPECT_TRUE((*v)["a"]["Z"].is_number_integer());
    EXPECT_FALSE((*v)["a"]["Z"].is_number_unsigned());
    EXPECT_TRUE((*v)["a"]["z"].is_number_float());
}

TEST(SpecJson, LaterDuplicateKeyWins) {
    const struct {
        std::string_view text;
        std::string_view expected;
    } cases[] = {
        {R"({"a": 1, "a": 2})", R"({"a":2})"},
        {R"({"a": {"x": 1}, "b": 0, "a": [2]})", R"({"a":[2],"b":0})"},
        {R"({"a": [1], "a": {"y": {"z": 1}}})", R"({"a":{"y":{"z":1}}})"},
        {R"([{"k": 1, "k": null}, {"k": 3}])", R"([{"k":null},{"k":3}])"},
    };
    for (const auto& c : cases) {
        const auto v = read_json(c.text);
        ASSERT_TRUE(v) << c.text;
        EXPECT_EQ(v->dump(), c.expected) << c.text;
    }
}

TEST(SpecJson, IntegersKeepTheirKindAndOversizedOnesBecomeFloats) {
    const auto v = read_json(
        "[18446744073709551615, 18446744073709551616, -9223372036854775808, "
        "-9223372036854775809, 1e-400, 0]");
    ASSERT_TRUE(v);
    EXPECT_TRUE((*v)[0].is_number_unsigned());
    EXPECT_EQ((*v)[0].get<std::uint64_t>(), 18446744073709551615U);
    EXPECT_TRUE((*v)[1].is_number_float());
    EXPECT_EQ((*v)[1].get<double>(), 18446744073709551616.0);
    EXPECT_TRUE((*v)[2].is_number_integer());
    EXPECT_FALSE((*v)[2].is_number_unsigned());
    EXPECT_TRUE((*v)[3].is_number_float());
    // Underflow rounds to zero, as other readers do.
    EXPECT_TRUE((*v)[4].is_number_float());
    EXPECT_EQ((*v)[4].get<double>(), 0.0);
    EXPECT_TRUE((*v)[5].is_number_unsigned());
}

TEST(SpecJson, SyntaxErrorsNameLineAndColumn) {
    const struct {
        std::string_view text;
        std::string_view message;
    } cases[] = {
        {"",
         "invalid spec JSON: parse error at line 1, column 1: attempting to parse an empty input; "
         "check that your "
         "input string or stream contains the expected JSON"},
        {"{\n  \"a\": 1,\n}",
         "invalid spec JSON: parse error at line 3, column 1: syntax error while parsing object "
         "key - unexpected "
         "'}'; expected string literal"},
        {"{\"a\" 1}",
         "invalid spec JSON: parse error at line 1, column 6: syntax error while parsing object "
         "separator - "
         "unexpected number literal; expected ':'"},
        {"[1, 2",
         "invalid spec JSON: parse error at line 1, column 6: syntax error while parsing array - "
         "unexpected end "
         "of input; expected ']'"},
        {"{} {}",
         "invalid spec JSON: parse error at line 1, column 4: syntax error while parsing value - "
         "unexpected '{'; "
         "expected end of input"},
        {"[tru]",
         "invalid spec JSON: parse error at line 1, column 5: syntax error while parsing value - "
         "invalid literal; "
         "last read: '[tru]'"},
        {"// c\n{}",
         "invalid spec JSON: parse error at line 1, column 1: syntax error while parsing value - "
         "invalid literal; "
         "last read: '/'"},
        {"[NaN]",
         "invalid spec JSON: parse error at line 1, column 2: syntax error while parsing value - "
         "invalid literal; "
         "last read: '[N'"},
        {"[01]",
         "invalid spec JSON: parse error at line 1, column 3: syntax error while parsing array - "
         "unexpected number "
         "literal; expected ']'"},
        {"[\"a\tb\"]",
         "invalid spec JSON: parse error at line 1, column 4: syntax error while parsing value - "
         "invalid string: "
         "control character U+0009 (HT) must be escaped to \\u0009 or \\t; last read: "
         "'\"a<U+0009>'"},
        {"[\"\\x\"]",
         "invalid spec JSON: parse error at line 1, column 4: syntax error while parsing value - "
         "invalid string: "
         "forbidden character after backslash; last read: '\"\\x'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failure(c.text), c.message) << c.text;
    }
}

TEST(SpecJson, RefusesNumbersBeyondADouble) {
    const struct {
        std::string_view text;
        std::string_view message;
    } cases[] = {
        {"1e400",
         "invalid spec JSON: parse error at line 1, column 5: number overflow parsing '1e400'"},
        {"[1,\n -1e400]",
         "invalid spec JSON: parse error at line 2, column 7: number overflow parsing '-1e400'"},
        {"{\"a\": 1.8e308}",
         "invalid spec JSON: parse error at line 1, column 13: number overflow parsing '1.8e308'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failure(c.text), c.message) << c.text;
    }
    EXPECT_EQ(failure("[1.7e308, -1.7e308]"), "");
}

TEST(SpecJson, RefusesLoneSurrogatesAndInvalidUtf8) {
    const std::string at = "invalid spec JSON: parse error at line 1, column ";
    const std::string high =
        ": syntax error while parsing value - invalid string: surrogate "
        "U+D800..U+DBFF must be followed by U+DC00..U+DFFF; last read: ";
    const std::string low =
        ": syntax error while parsing value - invalid string: surrogate "
        "U+DC00..U+DFFF must follow U+D800..U+DBFF; last read: ";
    const std::string utf8 =
        ": syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: ";
    // Invalid bytes of the text are shown as U+FFFD, so the message itself is valid UTF-8.
    const std::string fffd = "\xef\xbf\xbd";
    const struct {
        std::string_view text;
        std::string message;
    } cases[] = {
        {R"(["\ud800"])", at + "9" + high + R"('"\ud800"')"},
        {R"(["\ud800\u0041"])", at + "14" + high + R"('"\ud800\u0041')"},
        {R"(["\udc00"])", at + "8" + low + R"('"\udc00')"},
        {R"(["\ude00\ud83d"])", at + "8" + low + R"('"\ude00')"},
        {"[\"\xff\"]", at + "3" + utf8 + "'\"" + fffd + "'"},
        {"[\"\xc0\xaf\"]", at + "3" + utf8 + "'\"" + fffd + "'"},
        {"[\"\xed\xa0\x80\"]", at + "4" + utf8 + "'\"" + fffd + fffd + "'"},
        {"[\"\xe2\x82\"]", at + "5" + utf8 + "'\"" + fffd + "\"'"},
        {"\xff",
         at + "1: syntax error while parsing value - invalid literal; last read: '" + fffd + "'"},
    };
    for (const auto& c : cases) {
        const std::string message = failure(c.text);
        EXPECT_EQ(message, c.message) << c.text;
        EXPECT_TRUE(valid_utf8(message)) << message;
    }
    EXPECT_EQ(failure(R"(["\ud83d\ude00", "\u00e9", "é"])"), "");
}

TEST(SpecJson, LongTokensAreShortenedToTheirEnd) {
    const std::string at = "invalid spec JSON: parse error at line 2, column ";
    const std::string fault =
        ": syntax error while parsing value - invalid string: control character U+0001 (SOH) "
        "must be escaped to \\u0001; last read: ";
    const std::string e_acute = "\xc3\xa9";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        // The last 40 bytes of the token would start inside "é"; the cut moves past it.
        {"[\n\"" + std::string(1000, 'a') + e_acute + std::string(31, 'b') + "\x01\"]",
         at + "1035" + fault + "'..." + std::string(31, 'b') + "<U+0001>'"},
        {"[\n\"" + std::string(1000, 'a') + e_acute + "\x01\"]",
         at + "1004" + fault + "'..." + std::string(30, 'a') + e_acute + "<U+0001>'"},
        // A token of 40 bytes is shown whole.
        {"[\n\"" + std::string(29, 'a') + e_acute + "\x01\"]",
         at + "33" + fault + "'\"" + std::string(29, 'a') + e_acute + "<U+0001>'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failure(c.text), c.message);
    }
}

TEST(SpecJson, RefusesNestingDeeperThanTheLimit) {
    EXPECT_EQ(failure(nested(256)), "");
    EXPECT_EQ(failure("{\"a\":" + nested(255) + "}"), "");
    const std::string message = "invalid spec JSON: parse error at line ";
    const std::string deep = ": arrays and objects are nested deeper than 256 levels";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {nested(257), message + "1, column 257" + deep},
        {nested(100000), message + "1, column 257" + deep},
        {"{\"a\":" + nested(256) + "}", message + "1, column 261" + deep},
        {"[\n" + objects(300), message + "2, column 1276" + deep},
        // Brackets inside strings, escaped quotes included, do not count.
        {"[\"[[\\\"[{\",\n" + nested(300), message + "2, column 256" + deep},
        // An earlier fault is reported first.
        {"[x" + nested(300), message +
                                 "1, column 2: syntax error while parsing value - invalid literal; "
                                 "last read: '[x'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failure(c.text), c.message) << c.text.substr(0, 20);
    }
}

// A copy equals its original; releasing it leaves null and frees every node (the sanitizer
// build reports a leak or a node used after it is freed), for a parsed tree and for one built
// in code that nests far deeper than the reader allows.
TEST(SpecJson, CopiesAndReleasesTreesOfAnyDepth) {
    const auto parsed = read_json(
        R"({"a": [1, -2, 3.5, "x", null, true, {}, [[]]], "b": {"c": {"d": [{"e": "f"}, 2]}}})");
    ASSERT_TRUE(parsed);
    // Arrays and objects in turn, with a leaf and a younger sibling beside each link.
    json deep = json::array();
    json* link = &deep;
    for (int i = 0; i < 1000; ++i) {
        if (link->is_array()) {
            link->push_back(i);
            link->push_back(json::object());
            link->push_back("after");
            link = &(*link)[1];
        } else {
            (*link)["a"] = "leaf";
            (*link)["c"] = 1;
            link = &((*link)["b"] = json::array());
        }
    }
    for (const json* tree : std::array<const json*, 2>{&*parsed, &deep}) {
        json copy = remitrax::copy_json(*tree);
        EXPECT_EQ(copy, *tree);
        remitrax::release_json(copy);
        EXPECT_TRUE(copy.is_null());
    }
}

}  // namespace
