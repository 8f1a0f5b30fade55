// The delimiters of an interchange, read from its ISA header.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace remitrax {

// Five one-byte delimiters. Any byte value is accepted in every field; nothing checks that
// they differ from each other or from letters and digits.
struct Delimiters {
    char element = '*';
    char component = ':';
    char segment = '~';
    // Carried and shown, never used to split an element.
    std::optional<char> repetition;
    // Never read from a header: only a caller supplies it.
    std::optional<char> release;

    // Reads the header that begins at the first byte of `bytes`. Errors carry an empty
    // Skipped.
    [[nodiscard]] static std::expected<Delimiters, struct IsaError> from_isa(
        std::string_view bytes);

    // Skips one byte order mark at offset 0 and then whitespace, and reads the header after
    // them. An error carries what was skipped; success does not tell it (the frame cutter
    // finds the same trivia again and keeps it in the first segment).
    [[nodiscard]] static std::expected<Delimiters, struct IsaError> from_isa_after_leading_trivia(
        std::string_view bytes);

    friend bool operator==(const Delimiters&, const Delimiters&) = default;
};

// What was skipped before the header.
struct Skipped {
    std::size_t whitespace = 0;
    bool bom = false;

    bool any() const { return whitespace != 0 || bom; }
    // "a UTF-8 byte order mark and 2 bytes of whitespace"; meaningful only when any().
    std::string to_string() const;

    friend bool operator==(const Skipped&, const Skipped&) = default;
};

// The interchange header cannot be read.
struct IsaError {
    // The input does not begin with "ISA".
    struct NotIsa {
        std::string found;  // the first bytes of the input after trivia, at most 8
        Skipped skipped;
        friend bool operator==(const NotIsa&, const NotIsa&) = default;
    };
    // The header begins but ends before its delimiters can be read. found == 16 means all
    // element separators were seen but ISA16 or the terminator after it is missing.
    struct Truncated {
        std::size_t len = 0;  // bytes after the skipped trivia
        std::size_t found = 0;
        Skipped skipped;
        friend bool operator==(const Truncated&, const Truncated&) = default;
    };

    std::variant<NotIsa, Truncated> kind;

    const Skipped& skipped() const;
    Skipped& skipped();
    // The message a user sees.
    std::string to_string() const;

    friend bool operator==(const IsaError&, const IsaError&) = default;
};

// True for the whitespace of leading trivia: TAB, LF, CR and SPACE only (vertical tab and
// form feed are data).
constexpr bool is_trivia_space(char c) {
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// True when `bytes` begins with the UTF-8 byte order mark EF BB BF.
constexpr bool starts_with_bom(std::string_view bytes) {
    return bytes.starts_with("\xEF\xBB\xBF");
}

}  // namespace remitrax
