// Quoting bytes for messages, and the UTF-8 decoding and Unicode lookups behind it.
//
// Every message that shows a text in its quoted form ("{:?}" in a template) and every
// diagnostic that quotes the bytes of a file goes through append_quoted, so the two always
// agree.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace remitrax {

// Appends `bytes` as a double-quoted, escaped text:
// - the bytes are cut into runs of valid UTF-8 and the invalid bytes between them (the
//   maximal invalid prefix of each broken sequence); each invalid byte is written as \x and
//   two uppercase hexadecimal digits (\xFF);
// - in a valid run, `"` and `\` get a backslash, TAB, CR, LF and NUL are \t, \r, \n and \0,
//   and every character for which needs_unicode_escape holds is \u{h} with lowercase hex
//   digits and no leading zeros; all other characters stand as themselves.
// Empty input gives two double quotes.
void append_quoted(std::string& out, std::string_view bytes);

// The same as a new text: quoted(bytes).
//
// quoted is an object rather than a function so that an unqualified call with a std::string
// argument cannot be captured by std::quoted through argument-dependent lookup (an object
// found by ordinary lookup turns that lookup off).
struct QuotedFn {
    std::string operator()(std::string_view bytes) const;
};
inline constexpr QuotedFn quoted{};

// `bytes` decoded as UTF-8 with each invalid sequence (its maximal invalid prefix) replaced
// by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// One step of UTF-8 decoding.
struct Utf8Unit {
    char32_t code_point = 0;  // meaningful only when valid
    std::size_t length = 0;   // bytes taken; at least 1 when the input was not empty
    bool valid = false;
};

// Decodes the sequence that begins at `bytes[pos]` (pos < bytes.size()). Valid means
// well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. An invalid
// unit spans the maximal prefix of a well-formed sequence found there, or the one byte when
// no well-formed sequence starts with it.
Utf8Unit decode_utf8(std::string_view bytes, std::size_t pos);

// True for the characters a quoted text writes as \u{h}: general categories Cc, Cf, Cs, Co,
// Cn, Zl, Zp, Zs except U+0020, and Grapheme_Extend. Values above U+10FFFF give true.
bool needs_unicode_escape(char32_t c);

// The Unicode White_Space property.
bool is_white_space(char32_t c);

}  // namespace remitrax
