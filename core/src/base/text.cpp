// Quoted forms of bytes for messages, with the UTF-8 decoding and the Unicode lookups they
// need.
#include "base/text.hpp"

#include <algorithm>
#include <span>

#include "unicode_tables.hpp"

namespace remitrax {

namespace {

using unicode_tables::CodePointRange;

constexpr char32_t max_code_point = 0x10FFFF;

bool in_ranges(std::span<const CodePointRange> ranges, char32_t c) {
    // The first range that does not end before c is the only one that can hold it.
    const auto it = std::partition_point(ranges.begin(), ranges.end(),
                                         [c](const CodePointRange& r) { return r.last < c; });
    return it != ranges.end() && it->first <= c;
}

void append_hex(std::string& out, char32_t value, std::size_t min_digits, bool uppercase) {
    const char* digits = uppercase ? "0123456789ABCDEF" : "0123456789abcdef";
    char buffer[8];
    std::size_t n = 0;
    do {
        buffer[n++] = digits[value & 0xF];
        value >>= 4;
    } while (value != 0 || n < min_digits);
    while (n > 0) {
        out.push_back(buffer[--n]);
    }
}

void append_unicode_escape(std::string& out, char32_t c) {
    out += "\\u{";
    append_hex(out, c, 1, false);
    out.push_back('}');
}

void append_invalid_byte(std::string& out, char byte) {
    out += "\\x";
    append_hex(out, static_cast<unsigned char>(byte), 2, true);
}

// Writes one ASCII character of a valid run.
void append_ascii(std::string& out, char c) {
    switch (c) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\t':
            out += "\\t";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\0':
            out += "\\0";
            return;
        default:
            break;
    }
    if (c < 0x20 || c == 0x7F) {
        append_unicode_escape(out, static_cast<unsigned char>(c));
    } else {
        out.push_back(c);
    }
}

}  // namespace

Utf8Unit decode_utf8(std::string_view bytes, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    // The continuation bytes that may follow, and the range allowed for the first of them,
    // which is narrower after E0 (overlong), ED (surrogates), F0 (overlong) and F4 (above
    // U+10FFFF).
    std::size_t continuations = 0;
    char32_t code_point = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
        code_point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        code_point = lead & 0x0Fu;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        code_point = lead & 0x07u;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        // A continuation byte, C0, C1 or F5 to FF: no well-formed sequence starts here.
        return {0, 1, false};
    }
    std::size_t length = 1;
    for (std::size_t k = 0; k < continuations; ++k) {
        if (pos + length >= bytes.size()) {
            return {0, length, false};
        }
        const auto b = static_cast<unsigned char>(bytes[pos + length]);
        if (b < low || b > high) {
            return {0, length, false};
        }
        code_point = (code_point << 6) | (b & 0x3Fu);
        ++length;
        low = 0x80;
        high = 0xBF;
    }
    return {code_point, length, true};
}

bool needs_unicode_escape(char32_t c) {
    if (c > max_code_point) {
        return true;
    }
    return in_ranges(unicode_tables::kNeedsEscape, c);
}

bool is_white_space(char32_t c) {
    return in_ranges(unicode_tables::kWhiteSpace, c);
}

void append_quoted(std::string& out, std::string_view bytes) {
    out.reserve(out.size() + bytes.size() + 2);
    out.push_back('"');
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const char c = bytes[pos];
        if (static_cast<unsigned char>(c) < 0x80) {
            append_ascii(out, c);
            ++pos;
            continue;
        }
        const Utf8Unit unit = decode_utf8(bytes, pos);
        if (!unit.valid) {
            for (std::size_t k = 0; k < unit.length; ++k) {
                append_invalid_byte(out, bytes[pos + k]);
            }
        } else if (needs_unicode_escape(unit.code_point)) {
            append_unicode_escape(out, unit.code_point);
        } else {
            out.append(bytes.substr(pos, unit.length));
        }
        pos += unit.length;
    }
    out.push_back('"');
}

std::string QuotedFn::operator()(std::string_view bytes) const {
    std::string out;
    append_quoted(out, bytes);
    return out;
}

std::string lossy_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const Utf8Unit unit = decode_utf8(bytes, pos);
        if (unit.valid) {
            out.append(bytes.substr(pos, unit.length));
        } else {
            out += "\xEF\xBF\xBD";  // U+FFFD
        }
        pos += unit.length;
    }
    return out;
}

}  // namespace remitrax
