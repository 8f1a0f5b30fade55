// The parsers from element text to dates, R decimals and times, digit by digit.
#include "column/parse.hpp"

#include <array>
#include <cstddef>

namespace remitrax {

namespace {

using bytes::is_digit;

constexpr bool all_digits(std::string_view text) {
    for (const char c : text) {
        if (!is_digit(c)) {
            return false;
        }
    }
    return true;
}

// Two ASCII digits, already checked.
constexpr std::uint32_t two_digits(const char* p) {
    return static_cast<std::uint32_t>(p[0] - '0') * 10 + static_cast<std::uint32_t>(p[1] - '0');
}

constexpr std::size_t max_digits = 38;

constexpr std::array<Int128, max_digits + 1> powers_of_ten = [] {
    std::array<Int128, max_digits + 1> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) {
        p[i] = p[i - 1] * 10;
    }
    return p;
}();

constexpr Int128 max_magnitude = powers_of_ten[max_digits] - 1;

// Digits gather in a 64-bit chunk of at most 18 (which cannot overflow it) and join the
// 128-bit value chunk by chunk. The value only grows, so leaving the 38-digit range on the way
// already fails.
constexpr std::size_t chunk_digits = 18;

bool join(Int128& value, std::uint64_t chunk, std::size_t digits) {
    if (value == 0) {
        value = static_cast<Int128>(chunk);
        return true;
    }
    return !__builtin_mul_overflow(value, powers_of_ten[digits], &value) &&
           !__builtin_add_overflow(value, static_cast<Int128>(chunk), &value) &&
           value <= max_magnitude;
}

}  // namespace

std::optional<CivilDate> civil_date(std::string_view text) {
    if ((text.size() != 6 && text.size() != 8) || !all_digits(text)) {
        return std::nullopt;
    }
    const char* p = text.data();
    std::uint32_t year = 0;
    if (text.size() == 6) {
        const std::uint32_t yy = two_digits(p);
        year = yy < 50 ? 2000 + yy : 1900 + yy;
        p += 2;
    } else {
        year = two_digits(p) * 100 + two_digits(p + 2);
        p += 4;
    }
    const std::uint32_t month = two_digits(p);
    const std::uint32_t day = two_digits(p + 2);
    if (year == 0 || month < 1 || month > 12 || day < 1 || day > month_length(year, month)) {
        return std::nullopt;
    }
    return CivilDate{year, month, day};
}

namespace {

// The common short value: at most 18 digits in all, so the units fit 64 bits. Nothing when
// the text is longer or not such a value, which the general reading then decides.
std::optional<Int128> parse_short_r(const char* p, const char* end, bool negative,
                                    std::uint8_t scale) {
    constexpr std::size_t short_digits = 18;
    if (static_cast<std::size_t>(end - p) > short_digits) {
        return std::nullopt;
    }
    std::uint64_t units = 0;
    std::size_t digits = 0;
    const char* point = nullptr;
    for (; p != end; ++p) {
        const auto digit = static_cast<unsigned>(*p - '0');
        if (digit < 10) {
            units = units * 10 + digit;
            ++digits;
        } else if (*p == '.' && point == nullptr) {
            point = p;
        } else {
            return std::nullopt;
        }
    }
    const std::size_t fraction = point == nullptr ? 0 : static_cast<std::size_t>(end - point - 1);
    if (digits == 0 || fraction > scale || digits + (scale - fraction) > short_digits) {
        return std::nullopt;
    }
    const auto value = static_cast<Int128>(units) * powers_of_ten[scale - fraction];
    return negative ? -value : value;
}

}  // namespace

std::optional<Int128> parse_r(std::string_view text, std::uint8_t scale) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p != end && *p == '-';
    if (negative) {
        ++p;
    }
    if (const auto value = parse_short_r(p, end, negative, scale)) {
        return value;
    }
    // The integer and fraction digits are read as one number; the point only marks where the
    // fraction starts.
    Int128 value = 0;
    std::uint64_t chunk = 0;
    std::size_t chunk_len = 0;
    std::size_t digits = 0;
    const char* point = nullptr;
    for (; p != end; ++p) {
        const char c = *p;
        if (is_digit(c)) {
            if (chunk_len == chunk_digits) {
                if (!join(value, chunk, chunk_len)) {
                    return std::nullopt;
                }
                chunk = 0;
                chunk_len = 0;
            }
            chunk = chunk * 10 + static_cast<std::uint64_t>(c - '0');
            ++chunk_len;
            ++digits;
        } else if (c == '.' && point == nullptr) {
            point = p;
        } else {
            return std::nullopt;
        }
    }
    const std::size_t fraction = point == nullptr ? 0 : static_cast<std::size_t>(end - point - 1);
    if (digits == 0 || fraction > scale || !join(value, chunk, chunk_len)) {
        return std::nullopt;
    }
    // Zero stays zero at any scale; anything else beyond 38 powers of ten is out of range.
    const std::size_t missing = scale - fraction;
    // Below 10^18 nothing can overflow, which spares the checked 128-bit product.
    if (digits + missing <= 18) {
        value *= powers_of_ten[missing];
        return negative ? -value : value;
    }
    if (value != 0 &&
        (missing > max_digits || __builtin_mul_overflow(value, powers_of_ten[missing], &value) ||
         value > max_magnitude)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<std::uint32_t> parse_tm(std::string_view text) {
    const std::size_t n = text.size();
    if ((n != 4 && n < 6) || n > 8 || !all_digits(text)) {
        return std::nullopt;
    }
    const char* p = text.data();
    const std::uint32_t hour = two_digits(p);
    const std::uint32_t minute = two_digits(p + 2);
    const std::uint32_t second = n >= 6 ? two_digits(p + 4) : 0;
    if (hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    return hour * 3600 + minute * 60 + second;
}

}  // namespace remitrax
