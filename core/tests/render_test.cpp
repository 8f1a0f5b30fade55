// Text forms of keys, paths, JSON values and table chains.
#include <gtest/gtest.h>

#include "spec/render.hpp"

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace remitrax {

namespace {

using nlohmann::json;

struct Case {
    std::string input;
    std::string expected;
};

TEST(RenderKey, LeavesPlainKeysUnchanged) {
    const std::vector<std::string> keys = {
        "2100",
        "1000A",
        "header",
        "a-b_c:d",
        "\xc3\xa9t\xc3\xa9",  // été
        "a\"b\\",             // quotes and backslashes alone do not call for quoting
        "\xe2\x80\x8b",       // zero width space is not white space
        "\x01",               // neither is a control outside the White_Space set
        "a\xff",              // invalid bytes count as no white space
    };
    for (const std::string& key : keys) {
        EXPECT_EQ(render_key(key), key) << testing::PrintToString(key);
    }
}

TEST(RenderKey, QuotesEmptyKeysAndKeysWithWhiteSpaceOrSeparators) {
    const std::vector<Case> cases = {
        {"", R"("")"},
        {"a b", R"("a b")"},
        {"a\tb", R"("a\tb")"},
        {"#", R"("#")"},
        {"2100#2", R"("2100#2")"},
        {"a.b", R"("a.b")"},
        {"a/b", R"("a/b")"},
        {"x\n", R"("x\n")"},
        {"\x0b", R"("\u000b")"},
        {"\x0c", R"("\f")"},
        {"\r", R"("\r")"},
        {"\xc2\x85", "\"\xc2\x85\""},          // U+0085 stays as it is inside
        {"a\xc2\xa0z", "\"a\xc2\xa0z\""},      // U+00A0
        {"\xe1\x9a\x80", "\"\xe1\x9a\x80\""},  // U+1680
        {"\xe2\x80\x8a", "\"\xe2\x80\x8a\""},  // U+200A
        {"\xe2\x80\xa8", "\"\xe2\x80\xa8\""},  // U+2028
        {"\xe2\x80\xaf", "\"\xe2\x80\xaf\""},  // U+202F
        {"\xe2\x81\x9f", "\"\xe2\x81\x9f\""},  // U+205F
        {"\xe3\x80\x80", "\"\xe3\x80\x80\""},  // U+3000
        // Once quoted, quotes, backslashes and controls are escaped as in JSON.
        {"a \"b\"", R"("a \"b\"")"},
        {"a\\.b", R"("a\\.b")"},
        {std::string("\0.", 2), R"("\u0000.")"},
        {"\x08\x1f.", R"("\b\u001f.")"},
        {"\x7f.", "\"\x7f.\""},
        {"\xff.", "\"\xff.\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(render_key(c.input), c.expected) << testing::PrintToString(c.input);
    }
}

TEST(RenderKey, QuotedFormMatchesTheJsonWriter) {
    // render_value writes string values with the JSON writer; a key and a value in one
    // message must look alike.
    for (int b = 0; b < 0x80; ++b) {
        const std::string key = std::string(1, static_cast<char>(b)) + ".";
        EXPECT_EQ(render_key(key), json(key).dump()) << b;
    }
}

TEST(Child, JoinsRenderedKeysWithDots) {
    EXPECT_EQ(child("", "loops"), "loops");
    EXPECT_EQ(child("loops", "a.b"), R"(loops."a.b")");
    EXPECT_EQ(child("loops.2100", "trigger"), "loops.2100.trigger");
    EXPECT_EQ(child("", ""), R"("")");
    EXPECT_EQ(child("tables", "a b"), R"(tables."a b")");
}

TEST(RenderValue, DescribesContainersAndWritesScalarsAsCompactJson) {
    const std::vector<std::pair<json, std::string>> cases = {
        {json(nullptr), ""},
        {json::array({1, 2, 3}), "3 items"},
        {json::array(), "0 items"},
        {json::object({{"a", 1}, {"b", json::array()}}), "2 members"},
        {json::object(), "0 members"},
        {json(true), "true"},
        {json(false), "false"},
        {json(12), "12"},
        {json(-7), "-7"},
        {json(18446744073709551615u), "18446744073709551615"},
        {json(1.5), "1.5"},
        {json(""), R"("")"},
        {json("NM1"), R"("NM1")"},
        {json("say \"hi\"\x01"), R"("say \"hi\"\u0001")"},
        {json("tab\there"), R"("tab\there")"},
        {json("caf\xc3\xa9"), "\"caf\xc3\xa9\""},
        {json::parse(R"("\u001F")"), R"("\u001f")"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(render_value(value), expected) << value.dump();
    }
}

TEST(RenderValue, ReplacesInvalidUtf8InsteadOfFailing) {
    EXPECT_EQ(render_value(json(std::string("a\xffz"))), "\"a\xef\xbf\xbdz\"");
}

TEST(RenderChain, JoinsRenderedNamesWithSlashes) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no table"},
        {{"claims"}, "claims"},
        {{"payments", "claims", "services"}, "payments/claims/services"},
        {{"a/b", "c"}, R"("a/b"/c)"},
        {{"", "x y"}, R"(""/"x y")"},
    };
    for (const auto& [names, expected] : cases) {
        EXPECT_EQ(render_chain(names), expected);
    }
}

}  // namespace

}  // namespace remitrax
