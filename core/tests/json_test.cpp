// The JSON value tree that specs are read into: objects keep unique keys in bytewise order
// and numbers keep their kind.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

using nlohmann::json;

TEST(Json, ObjectKeysAreUniqueAndInBytewiseOrder) {
    // "\xc3\xa9" (é) sorts after every ASCII key because bytes compare unsigned.
    const json v = json::parse(R"({"\u00e9": 1, "b": 2, "B": 3, "a": 4, "": 5})");
    std::vector<std::string> keys;
    for (const auto& [key, value] : v.items()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"", "B", "a", "b", "\xc3\xa9"}));
}

TEST(Json, NumbersKeepThreeKinds) {
    const json v = json::parse(R"([18446744073709551615, -9223372036854775808, 1.5, 0, -0.0])");
    EXPECT_TRUE(v[0].is_number_unsigned());
    EXPECT_EQ(v[0].get<std::uint64_t>(), 18446744073709551615u);
    EXPECT_TRUE(v[1].is_number_integer());
    EXPECT_FALSE(v[1].is_number_unsigned());
    EXPECT_TRUE(v[2].is_number_float());
    EXPECT_TRUE(v[3].is_number_unsigned());
    EXPECT_TRUE(v[4].is_number_float());
}

TEST(Json, RoundTripsPrettyAndCompact) {
    const std::string text = R"({"loops":{"2000":{"trigger":{"segment":"LX"}}},"name":"835"})";
    const json v = json::parse(text);
    EXPECT_EQ(v.dump(), text);
    EXPECT_EQ(json::parse(v.dump(2)), v);
    EXPECT_EQ(v.dump(2).substr(0, 12), "{\n  \"loops\":");
}

TEST(Json, SyntaxErrorsNameLineAndColumn) {
    try {
        const json v = json::parse("{\n  \"a\": tru\n}");
        FAIL() << "parse accepted invalid JSON: " << v.dump();
    } catch (const json::parse_error& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("line 3, column 0"), std::string::npos) << what;
    }
}

}  // namespace
