// The byte tricks against plain byte-by-byte answers over many inputs: loads, counts and
// searches, word matches, digit words, dates and amounts read as one word (against the
// general parsers), keys, and the sixteen- and sixty-four-byte scanners.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>

#include "base/bytes.hpp"
#include "column/column.hpp"
#include "column/parse.hpp"

namespace {

using namespace remitrax;
using bytes::Word;

// Random bytes drawn mostly from a small alphabet, so that matches are common.
std::string random_bytes(std::mt19937_64& rng, std::size_t n) {
    static constexpr std::string_view alphabet("*:~0\xff\0A9", 8);
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(rng() % 4 == 0 ? static_cast<char>(rng() & 0xFF)
                                     : alphabet[rng() % alphabet.size()]);
    }
    return out;
}

// The bytes of `text` in a word, the first lowest.
Word word_of(std::string_view text) {
    Word w = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        w |= Word{static_cast<unsigned char>(text[i])} << (8 * i);
    }
    return w;
}

TEST(Bytes, LoadsPutTheFirstByteLowest) {
    std::mt19937_64 rng(1);
    for (int round = 0; round < 2000; ++round) {
        const std::string buffer = random_bytes(rng, 24);
        EXPECT_EQ(bytes::load<Word>(buffer.data()), word_of(std::string_view(buffer).substr(0, 8)));
        EXPECT_EQ(bytes::load<std::uint32_t>(buffer.data() + 3),
                  word_of(std::string_view(buffer).substr(3, 4)));
        for (std::size_t n = 0; n < 8; ++n) {
            EXPECT_EQ(bytes::load_short(buffer.data() + 5, n),
                      word_of(std::string_view(buffer).substr(5, n)))
                << n;
        }
        // Text of 1 to 8 bytes at any place in the window: its bytes in the top of the word.
        const std::size_t at = static_cast<std::size_t>(rng() % 16);
        const std::size_t n = 1 + static_cast<std::size_t>(rng() % 8);
        const std::string_view text = std::string_view(buffer).substr(at, n);
        const std::string_view window = std::string_view(buffer).substr(
            at - std::min<std::size_t>(at, rng() % 9), std::min<std::size_t>(24, 8 + 16));
        Word w = 0;
        if (bytes::load_top(text, window, w)) {
            EXPECT_EQ(w >> (64 - 8 * n), word_of(text));
        } else {
            EXPECT_LT(window.size(), 8u);
        }
    }
}

TEST(Bytes, CountAndFindAgreeWithTheStandardOnes) {
    std::mt19937_64 rng(2);
    for (const std::size_t n : {0U, 1U, 7U, 15U, 16U, 17U, 254U, 255U, 256U, 511U, 600U, 5000U}) {
        const std::string buffer = random_bytes(rng, n);
        for (const char target : {'*', ':', '\0', '\xff', 'Z'}) {
            EXPECT_EQ(bytes::count(buffer, target),
                      static_cast<std::size_t>(std::ranges::count(buffer, target)))
                << n;
            EXPECT_EQ(bytes::find(buffer, target), std::string_view(buffer).find(target)) << n;
        }
    }
}

TEST(Bytes, WordMatchesMarkExactlyTheEqualBytes) {
    std::mt19937_64 rng(3);
    for (int round = 0; round < 20000; ++round) {
        const Word w = rng() & (rng() | rng());  // plenty of zero bytes
        const auto target = static_cast<unsigned char>(round % 3 == 0 ? 0 : rng() & 0xFF);
        Word expected = 0;
        for (int i = 0; i < 8; ++i) {
            if (((w >> (8 * i)) & 0xFF) == target) {
                expected |= Word{0x80} << (8 * i);
            }
        }
        ASSERT_EQ(bytes::matches(w, bytes::repeated(target)), expected) << std::hex << w;
        // The first match alone is exact: the lowest bit set is that of matches.
        const Word first = bytes::first_match(w, bytes::repeated(target));
        ASSERT_EQ(first == 0, expected == 0) << std::hex << w;
        if (expected != 0) {
            ASSERT_EQ(std::countr_zero(first), std::countr_zero(expected)) << std::hex << w;
        }
    }
}

TEST(Bytes, DigitWordsReadEightDigits) {
    std::mt19937_64 rng(4);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int i = 0; i < 8; ++i) {
            text.push_back(rng() % 10 == 0 ? static_cast<char>(rng() & 0xFF)
                                           : static_cast<char>('0' + rng() % 10));
        }
        const bool digits = std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
        const Word w = word_of(text);
        ASSERT_EQ(bytes::all_digits(w), digits) << text;
        if (digits) {
            ASSERT_EQ(bytes::eight_digits(w), std::stoull(text)) << text;
            const bytes::DateDigits date = bytes::date_digits(w);
            ASSERT_EQ(date.year, std::stoul(text.substr(0, 4))) << text;
            ASSERT_EQ(date.month, std::stoul(text.substr(4, 2))) << text;
            ASSERT_EQ(date.day, std::stoul(text.substr(6, 2))) << text;
        }
    }
}

// An amount read from windows that hold it at every offset, amid bytes that could pass for
// part of an amount, must give what the general reading gives wherever it settles the text:
// texts of 1 to 10 bytes cross the 8 bytes read as one word, and scales up to 20 cross the 18
// digits that fit one.
TEST(Bytes, DecimalWordsAgreeWithTheGeneralReading) {
    std::mt19937_64 rng(835835);
    const auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    const auto shown = [](std::optional<Int128> units) {
        return units ? render_decimal(*units, 0) : std::string("none");
    };
    const std::string_view alphabet = "0123456789012345678901234567890123456789..-x";
    std::size_t settled = 0, refused = 0, windowed = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        const unsigned length = 1 + below(10);
        for (unsigned k = 0; k < length; ++k) {
            text += alphabet[below(static_cast<unsigned>(alphabet.size()))];
        }
        const auto scale = static_cast<std::uint8_t>(below(8) == 0 ? below(256) : below(21));
        const std::string expected = shown(parse_r(text, scale));
        // Before and after the text: none, a few or many bytes of the same alphabet.
        std::string buffer;
        const unsigned lead = below(3) == 0 ? 0 : below(12);
        const unsigned trail = below(3) == 0 ? 0 : below(12);
        for (unsigned k = 0; k < lead + trail; ++k) {
            buffer += alphabet[below(static_cast<unsigned>(alphabet.size()))];
        }
        buffer.insert(lead, text);
        const std::string_view window(buffer);
        const std::string_view in_window = window.substr(lead, text.size());
        const auto word = bytes::decimal_word(in_window, scale, window);
        if (word) {
            ASSERT_EQ(shown(Int128{word->units}), expected)
                << text << " at " << +scale << " in " << buffer;
            const auto counted = std::ranges::count_if(text, bytes::is_digit);
            ASSERT_EQ(word->digits, static_cast<std::uint64_t>(counted))
                << text << " in " << buffer;
            ++settled;
        }
        refused += expected == "none" ? 1u : 0u;
        windowed += lead + trail > 0 ? 1u : 0u;
    }
    EXPECT_GT(settled, 50000u);
    EXPECT_GT(refused, 50000u);
    EXPECT_GT(windowed, 100000u);
}

TEST(Bytes, KeysAreTheBytesBelowALeadingOne) {
    const std::pair<std::string_view, std::uint64_t> cases[] = {
        {std::string_view(), 1},
        {std::string_view("\0", 1), 0x100},
        {std::string_view("\0\0", 2), 0x10000},
        {"N1", 0x1'314E},
        {"ABCDEFG", 0x0147'4645'4443'4241},
        {"\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 0x01FF'FFFF'FFFF'FFFF},
        {"ABCDEFGH", 0}};
    for (const auto& [text, key] : cases) {
        EXPECT_EQ(bytes::key(text), key) << text;
        if (key != 0) {
            EXPECT_EQ(bytes::text_of_key(key), text);
            EXPECT_EQ(
                bytes::key_of_word(word_of(text) | Word{0x5A} << (8 * text.size()), text.size()),
                key);
        }
    }
    // Read from any window around the text, the key is that of the text alone.
    std::mt19937_64 rng(5);
    for (int round = 0; round < 100000; ++round) {
        const std::string buffer = random_bytes(rng, 20);
        const std::size_t lead = rng() % 10;
        const std::size_t n = rng() % 10;
        const std::string_view window =
            std::string_view(buffer).substr(rng() % 3 == 0 ? lead : 0, 20);
        const std::string_view text = std::string_view(buffer).substr(lead, n);
        ASSERT_EQ(bytes::key(text, window), bytes::key(std::string(text)))
            << testing::PrintToString(buffer) << " " << lead << " " << n;
    }
}

// Every scanner of a build against the bytes themselves.
template <class Finder>
void expect_pair_hits(const Finder& finder, std::string_view block, char first, char second) {
    unsigned expected_first = 0;
    unsigned expected_second = 0;
    for (unsigned i = 0; i < 16; ++i) {
        expected_first |= static_cast<unsigned>(block[i] == first) << i;
        expected_second |= static_cast<unsigned>(block[i] == second) << i;
    }
    const bytes::PairHits at = finder.at(block.data());
    EXPECT_EQ(at.first, expected_first);
    EXPECT_EQ(at.second, expected_second);
    const bytes::PairHits of = finder.of(word_of(block.substr(0, 8)), word_of(block.substr(8)));
    EXPECT_EQ(of.first, expected_first);
    EXPECT_EQ(of.second, expected_second);
}

TEST(Bytes, PairFindersMarkBothBytesInSixteen) {
    std::mt19937_64 rng(6);
    for (int round = 0; round < 5000; ++round) {
        const std::string block = random_bytes(rng, 16);
        const char first = round % 5 == 0 ? '\0' : '*';
        const char second = round % 7 == 0 ? '\xff' : ':';
        expect_pair_hits(bytes::WordPairFinder(first, second), block, first, second);
#if defined(REMITRAX_SSE2)
        expect_pair_hits(bytes::SsePairFinder(first, second), block, first, second);
#endif
    }
}

TEST(Bytes, BlockFinderGivesEveryPositionInOrder) {
    std::mt19937_64 rng(7);
    for (const std::size_t n : {0U, 1U, 63U, 64U, 65U, 127U, 128U, 200U, 1000U}) {
        const std::string input = random_bytes(rng, n);
        for (const char target : {'~', '\0', '\xff'}) {
            bytes::BlockFinder finder(input, target);
            std::size_t from = 0;
            for (;;) {
                const std::size_t expected = std::string_view(input).find(target, from);
                const std::size_t found = finder.next(from);
                ASSERT_EQ(found, expected) << n << " from " << from;
                if (found == std::string_view::npos) {
                    break;
                }
                from = found + 1 + static_cast<std::size_t>(rng() % 3);
            }
        }
        if (n >= 64) {
            std::uint64_t expected = 0;
            for (unsigned i = 0; i < 64; ++i) {
                expected |= std::uint64_t{input[i] == '~'} << i;
            }
            EXPECT_EQ(bytes::block_mask_words(input.data(), '~'), expected);
#if defined(REMITRAX_SSE2)
            EXPECT_EQ(bytes::block_mask_sse(input.data(), '~'), expected);
#endif
        }
    }
}

}  // namespace
