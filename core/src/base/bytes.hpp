// Byte tricks in one place: bytes read eight at a time as one word, digits and amounts read
// from a word, bytes scanned sixteen or sixty-four at a time, and packed into integer keys.
//
// One byte order throughout: the first byte of the input is the lowest byte of a word, and bit
// i of a mask stands for byte i. Loads swap bytes on a big-endian host, so every trick below
// reads the same on any host.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

// SSE2 scanners where the target has them; REMITRAX_ABLATION_SIMD builds the word ones
// instead, to measure what SSE2 buys.
#if defined(__SSE2__) && !defined(REMITRAX_ABLATION_SIMD)
#include <emmintrin.h>
#define REMITRAX_SSE2 1
#endif

namespace remitrax::bytes {

using Word = std::uint64_t;

// sizeof(T) bytes at p, the first in the lowest bits.
template <class T>
T load(const char* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        value = std::byteswap(value);
    }
    return value;
}

// The n < 8 bytes at p, zero above them, from loads that overlap rather than read past p + n.
inline Word load_short(const char* p, std::size_t n) {
    if (n >= 4) {
        return Word{load<std::uint32_t>(p)} | Word{load<std::uint32_t>(p + n - 4)} << (8 * (n - 4));
    }
    if (n == 0) {
        return 0;
    }
    const auto byte = [&](std::size_t i) {
        return Word{static_cast<unsigned char>(p[i])} << (8 * i);
    };
    return byte(0) | byte(n / 2) | byte(n - 1);
}

// Whether the 1 to 8 bytes of `text`, which lies in `window`, can be read as one word from the
// window; if so, `w` gets them in its top bytes, the last one highest, and unspecified bytes
// below them.
inline bool load_top(std::string_view text, std::string_view window, Word& w) {
    const char* const end = text.data() + text.size();
    if (end - window.data() >= 8) {
        w = load<Word>(end - 8);
        return true;
    }
    if (window.data() + window.size() - text.data() >= 8) {
        w = load<Word>(text.data()) << (64 - 8 * text.size());
        return true;
    }
    return false;
}

// `b` in every byte.
constexpr Word repeated(unsigned char b) {
    return 0x0101010101010101u * b;
}

// The high bit of every byte of `w` that is zero, and no other bit.
constexpr Word zero_bytes(Word w) {
    const Word low7 = repeated(0x7F);
    return ~(((w & low7) + low7) | w | low7);
}

// The high bit of every byte of `w` equal to the byte repeated in `pattern`, and no other.
constexpr Word matches(Word w, Word pattern) {
    return zero_bytes(w ^ pattern);
}

// The high bit of the lowest byte of `w` equal to the byte repeated in `pattern`, with bits of
// higher bytes that may be wrong; enough for the position of the first match, and cheaper than
// matches, since a borrow only carries upward from the first match.
constexpr Word first_match(Word w, Word pattern) {
    const Word x = w ^ pattern;
    return (x - repeated(1)) & ~x & repeated(0x80);
}

// Whether the byte is an ASCII digit.
constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Whether all eight bytes are ASCII digits.
constexpr bool all_digits(Word w) {
    const Word high = repeated(0xF0);
    return (w & high) == repeated('0') && ((w + repeated(6)) & high) == repeated('0');
}

// Eight ASCII digits, the first in the lowest byte, as their number.
constexpr std::uint64_t eight_digits(Word w) {
    w -= repeated('0');
    w = w * 10 + (w >> 8);
    return (((w & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
            (((w >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
           32;
}

// Eight ASCII digits CCYYMMDD, the first in the lowest byte, as year, month and day.
struct DateDigits {
    std::uint32_t year = 0;
    std::uint32_t month = 0;
    std::uint32_t day = 0;
};
constexpr DateDigits date_digits(Word w) {
    // Pairs of digits as numbers in bytes 0, 2, 4 and 6.
    std::uint64_t v = w - repeated('0');
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;
    return {static_cast<std::uint32_t>((v & 0xFF) * 100 + ((v >> 16) & 0xFF)),
            static_cast<std::uint32_t>((v >> 32) & 0xFF), static_cast<std::uint32_t>(v >> 48)};
}

// 10^0 to 10^18, the powers that fit 64 bits.
inline constexpr std::array<std::uint64_t, 19> powers_of_ten_64 = [] {
    std::array<std::uint64_t, 19> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) {
        p[i] = p[i - 1] * 10;
    }
    return p;
}();

// An amount read from one word, in units of 10^-scale, and its count of digits.
struct DecimalWord {
    std::int64_t units = 0;
    std::uint32_t digits = 0;
};

// An R decimal (optional leading "-", digits, optional "." and at most `scale` fraction
// digits, at least one digit) of up to 8 bytes besides the sign, read as one word when
// `window`, which holds `text` and all of which may be read, has 8 bytes around it. Nothing
// when the text is not settled that way: longer, not in a word, not such a decimal, or of
// more than 18 digits at the scale; the digit-by-digit reading decides those. The result is
// small enough to come back in registers.
inline std::optional<DecimalWord> decimal_word(std::string_view text, std::uint8_t scale,
                                               std::string_view window) {
#if defined(REMITRAX_ABLATION_WORD_VALUES)
    // Every amount left to the digit-by-digit reading.
    static_cast<void>(text);
    static_cast<void>(scale);
    static_cast<void>(window);
    return std::nullopt;
#else
    const bool negative = !text.empty() && text.front() == '-';
    const std::size_t n = text.size() - (negative ? 1 : 0);
    Word w = 0;
    if (n - 1 < 8 && load_top(text.substr(negative ? 1 : 0), window, w)) {
        // The text fills the top n bytes; the bytes below it are not looked at.
        unsigned below = static_cast<unsigned>(8 - n) * 8;
        const Word point = matches(w, repeated('.')) >> below << below;
        // The bytes before the point move up over it, without a branch on whether there is
        // one: with none, nothing moves and the fraction is empty.
        const Word at = point >> 7;  // the low bit of the point's byte
        const Word before = at - (at != 0 ? 1 : 0);
        w = (w & ~(before | at * 0xFF)) | ((w & before) << 8);
        const std::uint64_t fraction =
            at != 0 ? static_cast<std::uint64_t>(__builtin_clzll(point)) / 8 : 0;
        below += at != 0 ? 8 : 0;
        if ((point & (point - 1)) == 0 && below < 64 && fraction <= scale) {
            const Word pad = (Word{1} << below) - 1;
            w = (w & ~pad) | (repeated('0') & pad);
            const std::uint64_t count = 8 - below / 8;
            const std::uint64_t missing = scale - fraction;
            if (all_digits(w) && count + missing <= 18) {
                // At most 18 digits: the magnitude stays below 2^63.
                const auto magnitude =
                    static_cast<std::int64_t>(eight_digits(w) * powers_of_ten_64[missing]);
                return DecimalWord{negative ? -magnitude : magnitude,
                                   static_cast<std::uint32_t>(count)};
            }
        }
    }
    return std::nullopt;
#endif
}

// How many bytes equal `target`. Blocks of 255 bytes sum into one byte, a reduction the
// compiler turns into wide compares; std::count keeps a full-width sum per byte and runs
// several times slower.
inline std::size_t count(std::string_view bytes, char target) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t len = std::min<std::size_t>(bytes.size() - i, 255);
        std::uint8_t block = 0;
        for (std::size_t j = 0; j < len; ++j) {
            block = static_cast<std::uint8_t>(block + (bytes[i + j] == target));
        }
        total += block;
        i += len;
    }
    return total;
}

// The position of the first byte equal to `target`, or npos. Below sixteen bytes a plain loop
// beats the call into memchr.
inline std::size_t find(std::string_view bytes, char target) {
    if (bytes.size() < 16) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == target) {
                return i;
            }
        }
        return std::string_view::npos;
    }
    const void* hit = std::memchr(bytes.data(), static_cast<unsigned char>(target), bytes.size());
    return hit == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - bytes.data());
}

// ---- Keys

// The key of a text shorter than 8 bytes: its bytes, the first lowest, below a byte 1 that
// keeps texts differing only in trailing zero bytes apart. Never 0.
constexpr std::size_t key_limit = 8;

// The key of the first `size` bytes of `w` (size < key_limit); the bytes above them are
// ignored.
constexpr std::uint64_t key_of_word(Word w, std::size_t size) {
    const std::uint64_t marker = std::uint64_t{1} << (8 * size);
    return (w & (marker - 1)) | marker;
}

// The key of `text`, or 0 when it is too long to have one.
inline std::uint64_t key(std::string_view text) {
    if (text.size() >= key_limit) {
        return 0;
    }
    return key_of_word(load_short(text.data(), text.size()), text.size());
}

// The same for a text that lies in `window`, all of which may be read: one load where the
// window allows it.
inline std::uint64_t key(std::string_view text, std::string_view window) {
    const std::size_t n = text.size();
    if (n >= key_limit) {
        return 0;
    }
    Word w = 0;
    if (n != 0 && load_top(text, window, w)) {
        return key_of_word(w >> (64 - 8 * n), n);
    }
    return key_of_word(load_short(text.data(), n), n);
}

// A key multiplied by 2^64 over the golden ratio, which spreads its bytes over the high bits:
// the bits an open-addressing table takes its bucket from.
constexpr std::uint64_t spread_key(std::uint64_t key) {
    return key * 0x9E3779B97F4A7C15u;
}

// The text a key stands for.
inline std::string text_of_key(std::uint64_t key) {
    std::string text;
    const std::size_t size = (static_cast<std::size_t>(std::bit_width(key)) - 1) / 8;
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(static_cast<char>((key >> (8 * i)) & 0xFFu));
    }
    return text;
}

// ---- Scanners

// Where two bytes are among sixteen: bit i set when byte i is the first, or the second.
struct PairHits {
    unsigned first = 0;
    unsigned second = 0;
};

// Finds two byte values sixteen bytes at a time, with plain word arithmetic.
class WordPairFinder {
  public:
    WordPairFinder(char first, char second)
        : first_(repeated(static_cast<unsigned char>(first))),
          second_(repeated(static_cast<unsigned char>(second))) {}

    // The sixteen bytes at p.
    PairHits at(const char* p) const { return of(load<Word>(p), load<Word>(p + 8)); }
    // Sixteen bytes given as two words, `low` first.
    PairHits of(Word low, Word high) const {
        return {gather(matches(low, first_)) | gather(matches(high, first_)) << 8,
                gather(matches(low, second_)) | gather(matches(high, second_)) << 8};
    }

  private:
    // The high bit of each byte gathered into the low eight bits, byte i to bit i.
    static unsigned gather(Word high_bits) {
        return static_cast<unsigned>(((high_bits >> 7) * 0x0102040810204080) >> 56);
    }

    Word first_;
    Word second_;
};

// The positions of one byte value in 64 bytes at p: bit i set when byte i holds it.
inline std::uint64_t block_mask_words(const char* p, char target) {
    const Word pattern = repeated(static_cast<unsigned char>(target));
    std::uint64_t mask = 0;
    for (int i = 0; i < 8; ++i) {
        const Word hits = matches(load<Word>(p + 8 * i), pattern) >> 7;
        mask |= ((hits * 0x0102040810204080) >> 56) << (8 * i);
    }
    return mask;
}

#if defined(REMITRAX_SSE2)

// The same with SSE2 compares of sixteen bytes.
class SsePairFinder {
  public:
    SsePairFinder(char first, char second)
        : first_(_mm_set1_epi8(first)), second_(_mm_set1_epi8(second)) {}

    PairHits at(const char* p) const {
        return hits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    PairHits of(Word low, Word high) const {
        return hits(_mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)));
    }

  private:
    PairHits hits(__m128i bytes) const {
        return {static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, first_))),
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, second_)))};
    }

    __m128i first_;
    __m128i second_;
};

inline std::uint64_t block_mask_sse(const char* p, char target) {
    const __m128i pattern = _mm_set1_epi8(target);
    std::uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, pattern)));
        mask |= std::uint64_t{hits} << (16 * i);
    }
    return mask;
}

using PairFinder = SsePairFinder;
inline std::uint64_t block_mask(const char* p, char target) {
    return block_mask_sse(p, target);
}

#else

using PairFinder = WordPairFinder;
inline std::uint64_t block_mask(const char* p, char target) {
    return block_mask_words(p, target);
}

#endif

// The positions of one byte value in an input, found 64 bytes at a time: a segment is some
// twenty bytes long, and a search started afresh for every one costs more than the search.
class BlockFinder {
  public:
    BlockFinder(std::string_view input, char target) : input_(input), target_(target) {}

    // The first position at or after `from` that holds the byte, or npos.
    std::size_t next(std::size_t from) {
        while (from < input_.size()) {
            const std::size_t block = from - from % 64;
            if (block != block_) {
                block_ = block;
                mask_ = mask_of(block);
            }
            const std::uint64_t ahead = mask_ & (~std::uint64_t{0} << (from - block));
            if (ahead != 0) {
                return block + static_cast<std::size_t>(std::countr_zero(ahead));
            }
            from = block + 64;
        }
        return std::string_view::npos;
    }

  private:
    // Bit i set when byte block + i holds the target; bits past the input stay 0.
    std::uint64_t mask_of(std::size_t block) const {
        const char* const p = input_.data() + block;
        if (input_.size() - block < 64) {
            std::uint64_t mask = 0;
            for (std::size_t i = 0; i < input_.size() - block; ++i) {
                mask |= std::uint64_t{p[i] == target_} << i;
            }
            return mask;
        }
        return block_mask(p, target_);
    }

    std::string_view input_;
    char target_;
    std::size_t block_ = std::string_view::npos;
    std::uint64_t mask_ = 0;
};

}  // namespace remitrax::bytes
