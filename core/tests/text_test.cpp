// The quoted form of texts and bytes, UTF-8 decoding and the Unicode property lookups.
#include <gtest/gtest.h>

#include "base/text.hpp"

#include <initializer_list>
#include <iomanip>
#include <string>
#include <string_view>
#include <vector>

namespace remitrax {

namespace {

// UTF-8 of one code point, written out here so that test inputs do not depend on the
// decoder under test.
std::string utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return out;
}

// Joins parts; "literal" + std::string&& draws a false -Wrestrict from GCC 12 at -O3.
std::string cat(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (const std::string_view part : parts) {
        out += part;
    }
    return out;
}

struct Case {
    std::string input;
    std::string expected;
};

void expect_quoted(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(quoted(c.input), c.expected)
            << "input bytes: " << testing::PrintToString(c.input);
    }
}

TEST(Quoted, EnclosesInDoubleQuotesAndEscapesAsciiSpecials) {
    expect_quoted({
        {"", R"("")"},
        {"NM1", R"("NM1")"},
        {"a b", R"("a b")"},
        {R"(say "hi")", R"("say \"hi\"")"},
        {R"(C:\x)", R"("C:\\x")"},
        {"\t", R"("\t")"},
        {"\r\n", R"("\r\n")"},
        {std::string("a\0b", 3), R"("a\0b")"},
        {"\x01", R"("\u{1}")"},
        {"\x1b[0m", R"("\u{1b}[0m")"},
        {"\x1f", R"("\u{1f}")"},
        {"\x0b\x0c", R"("\u{b}\u{c}")"},
        {"\x7f", R"("\u{7f}")"},
        {"~*:^'", R"("~*:^'")"},
    });
}

TEST(Quoted, WritesEachInvalidByteAsUppercaseHex) {
    expect_quoted({
        {"\xff", R"("\xFF")"},
        {"\x80", R"("\x80")"},  // lone continuation byte
        {"a\xbfz", R"("a\xBFz")"},
        {"\xe2\x82", R"("\xE2\x82")"},  // truncated 3-byte sequence
        {"\xe2\x82Z", R"("\xE2\x82Z")"},
        {"\xc0\x80", R"("\xC0\x80")"},                  // overlong NUL
        {"\xe0\x80\xaf", R"("\xE0\x80\xAF")"},          // overlong slash
        {"\xed\xa0\x80", R"("\xED\xA0\x80")"},          // surrogate U+D800
        {"\xf4\x90\x80\x80", R"("\xF4\x90\x80\x80")"},  // above U+10FFFF
        {"\xf5\x80", R"("\xF5\x80")"},
        {"\xf8\x88\x80\x80\x80", R"("\xF8\x88\x80\x80\x80")"},
        {"\xfe\xff", R"("\xFE\xFF")"},
        {"\xc3", R"("\xC3")"},
        {"\xc3\xa9\xff\xc3\xa9", "\"\xc3\xa9\\xFF\xc3\xa9\""},  // valid runs around it stay
        {"\xf0\x9f\x98\x22", R"("\xF0\x9F\x98\"")"},            // escapes go on after it
    });
}

TEST(Quoted, EscapesNonPrintableCharactersByCodePoint) {
    expect_quoted({
        {utf8(0x0301), R"("\u{301}")"},               // combining acute accent (Mn)
        {cat({"e", utf8(0x0301)}), R"("e\u{301}")"},  // also after a base character
        {utf8(0x00A0), R"("\u{a0}")"},                // no-break space (Zs)
        {utf8(0x3000), R"("\u{3000}")"},              // ideographic space (Zs)
        {utf8(0x2028), R"("\u{2028}")"},              // line separator (Zl)
        {utf8(0x2029), R"("\u{2029}")"},              // paragraph separator (Zp)
        {utf8(0x0085), R"("\u{85}")"},                // next line (Cc)
        {utf8(0x200B), R"("\u{200b}")"},              // zero width space (Cf)
        {utf8(0x00AD), R"("\u{ad}")"},                // soft hyphen (Cf)
        {utf8(0xFEFF), R"("\u{feff}")"},              // byte order mark (Cf)
        {utf8(0xE000), R"("\u{e000}")"},              // private use (Co)
        {utf8(0x10FFFD), R"("\u{10fffd}")"},          // private use, plane 16 (Co)
        {utf8(0x0378), R"("\u{378}")"},               // unassigned (Cn)
        {utf8(0xFDD0), R"("\u{fdd0}")"},              // noncharacter (Cn)
        {utf8(0xFFFF), R"("\u{ffff}")"},              // noncharacter (Cn)
        {utf8(0x10FFFF), R"("\u{10ffff}")"},          // noncharacter (Cn)
        {utf8(0xFE0F), R"("\u{fe0f}")"},              // variation selector (Grapheme_Extend)
        {utf8(0x0BBE), R"("\u{bbe}")"},               // spacing mark that extends (Mc)
        {utf8(0xFF9E), R"("\u{ff9e}")"},              // halfwidth voiced mark (Lm, extends)
        {utf8(0xE0020), R"("\u{e0020}")"},            // tag space (Cf)
    });
}

TEST(Quoted, KeepsPrintableCharactersAsTheyAre) {
    const std::vector<char32_t> printable = {
        0x00E9,   // é
        0x20AC,   // €
        0x4E2D,   // 中
        0xAC00,   // 가
        0x00C4,   // Ä
        0x2205,   // ∅
        0xFFFD,   // replacement character
        0x1F600,  // emoji
        0x10000,  // Linear B syllable
        0x30000,  // CJK extension G
    };
    std::vector<Case> cases;
    for (const char32_t c : printable) {
        cases.push_back({utf8(c), cat({"\"", utf8(c), "\""})});
    }
    cases.push_back({cat({"Caf", utf8(0xE9), " 5 ", utf8(0x20AC)}),
                     cat({"\"Caf", utf8(0xE9), " 5 ", utf8(0x20AC), "\""})});
    expect_quoted(cases);
}

TEST(Quoted, AppendsToExistingText) {
    std::string out = "found ";
    append_quoted(out, "N\n");
    append_quoted(out, "");
    EXPECT_EQ(out, R"(found "N\n""")");
}

TEST(Quoted, IsNotCapturedByStdQuoted) {
    // <iomanip> is in reach here, and an unqualified call with a std::string argument would
    // find std::quoted by argument-dependent lookup if quoted were a function.
    std::string text = "a\"b";
    const std::string fixed = "\\";
    const std::string from_text = quoted(text);
    const std::string from_fixed = quoted(fixed);
    EXPECT_EQ(from_text, R"("a\"b")");
    EXPECT_EQ(from_fixed, R"("\\")");
}

TEST(LossyUtf8, ReplacesEachMaximalInvalidPrefixWithOneReplacementCharacter) {
    const std::string fffd = utf8(0xFFFD);
    const std::vector<Case> cases = {
        {"", ""},
        {"NM1", "NM1"},
        {"\xc3\xa9", "\xc3\xa9"},
        {"\xff", fffd},
        {"N\xffM", cat({"N", fffd, "M"})},
        {"\xe2\x82", fffd},  // one truncated sequence, one replacement
        {"\xe2\x82Z", cat({fffd, "Z"})},
        {"\xf0\x9f\x98", fffd},
        {"\xc0\x80", cat({fffd, fffd})},            // C0 starts nothing, 80 stands alone
        {"\xed\xa0\x80", cat({fffd, fffd, fffd})},  // a surrogate is three broken bytes
        {"\x80\x80", cat({fffd, fffd})},
        {"\xf5\x80", cat({fffd, fffd})},
        {"\xe2\x82\xac\xe2", cat({"\xe2\x82\xac", fffd})},
        {"\xed\x9f\xbf\xee\x80\x80", "\xed\x9f\xbf\xee\x80\x80"},  // U+D7FF, U+E000
        {"\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},                  // U+10FFFF
        {"\xf4\x90\x80\x80", cat({fffd, fffd, fffd, fffd})},       // above U+10FFFF
        {"\xe0\x9f\x80", cat({fffd, fffd, fffd})},                 // overlong
        {"\xf0\x90\x80Z", cat({fffd, "Z"})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lossy_utf8(c.input), c.expected) << testing::PrintToString(c.input);
    }
}

TEST(UnicodeProperties, WhiteSpaceIsExactlyTheUnicodeSet) {
    const std::vector<char32_t> listed = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                          0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                          0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                          0x2029, 0x202F, 0x205F, 0x3000};
    std::vector<char32_t> found;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (is_white_space(c)) {
            found.push_back(c);
        }
    }
    EXPECT_EQ(found, listed);
}

TEST(UnicodeProperties, EscapedSetInAsciiIsTheControls) {
    // Every printable ASCII character stands as itself; U+0020 is the one space separator
    // that is not escaped.
    for (char32_t c = 0; c < 0x80; ++c) {
        EXPECT_EQ(needs_unicode_escape(c), c < 0x20 || c == 0x7F) << static_cast<unsigned>(c);
    }
    EXPECT_TRUE(needs_unicode_escape(0xD800));  // surrogates keep their class
    EXPECT_TRUE(needs_unicode_escape(0xDFFF));
    EXPECT_TRUE(needs_unicode_escape(0x110000));  // beyond the code space
    EXPECT_FALSE(needs_unicode_escape(0x00E9));
}

}  // namespace

}  // namespace remitrax
