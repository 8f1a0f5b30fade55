// Reading the delimiters of an interchange from its ISA header, and the errors of a header
// that does not give them.
#include "x12/delimiters.hpp"

#include <algorithm>
#include <cstring>

namespace remitrax {

namespace {

constexpr std::size_t isa_separators = 16;

std::string hex_byte(char c) {
    static constexpr char digits[] = "0123456789abcdef";
    const auto b = static_cast<unsigned char>(c);
    return {digits[b >> 4], digits[b & 0x0f]};
}

// ISA12 qualifies for a repetition separator from version 00402 on: compare the common
// prefix of at most five bytes; on a tie the longer value is the greater.
bool version_has_repetition(std::string_view isa12) {
    constexpr std::string_view first = "00402";
    const std::size_t n = std::min<std::size_t>(isa12.size(), first.size());
    const int c = isa12.substr(0, n).compare(first.substr(0, n));
    if (c != 0) {
        return c > 0;
    }
    return isa12.size() >= first.size();
}

}  // namespace

[[nodiscard]] std::expected<Delimiters, IsaError> Delimiters::from_isa(std::string_view b) {
    if (b.size() < 3 || !b.starts_with("ISA")) {
        return std::unexpected(IsaError{
            IsaError::NotIsa{std::string(b.substr(0, std::min<std::size_t>(b.size(), 8))), {}}});
    }
    if (b.size() == 3) {
        return std::unexpected(IsaError{IsaError::Truncated{3, 0, {}}});
    }
    const char sep = b[3];
    // sep_at[k] is the offset of the separator before element ISA(k+1).
    std::size_t sep_at[isa_separators];
    std::size_t found = 0;
    for (std::size_t p = 3; found < isa_separators;) {
        const void* hit = std::memchr(b.data() + p, static_cast<unsigned char>(sep), b.size() - p);
        if (hit == nullptr) {
            return std::unexpected(IsaError{IsaError::Truncated{b.size(), found, {}}});
        }
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - b.data());
        sep_at[found++] = at;
        p = at + 1;
    }
    const std::size_t p16 = sep_at[isa_separators - 1];
    if (p16 + 2 >= b.size()) {
        return std::unexpected(IsaError{IsaError::Truncated{b.size(), isa_separators, {}}});
    }
    Delimiters d;
    d.element = sep;
    d.component = b[p16 + 1];
    d.segment = b[p16 + 2];
    const std::string_view isa11 = b.substr(sep_at[10] + 1, sep_at[11] - sep_at[10] - 1);
    const std::string_view isa12 = b.substr(sep_at[11] + 1, sep_at[12] - sep_at[11] - 1);
    if (isa11.size() == 1 && version_has_repetition(isa12)) {
        d.repetition = isa11[0];
    }
    return d;
}

[[nodiscard]] std::expected<Delimiters, IsaError> Delimiters::from_isa_after_leading_trivia(
    std::string_view bytes) {
    Skipped skipped;
    if (starts_with_bom(bytes)) {
        bytes.remove_prefix(3);
        skipped.bom = true;
    }
    while (skipped.whitespace < bytes.size() && is_trivia_space(bytes[skipped.whitespace])) {
        ++skipped.whitespace;
    }
    auto result = from_isa(bytes.substr(skipped.whitespace));
    if (!result) {
        result.error().skipped() = skipped;
    }
    return result;
}

std::string Skipped::to_string() const {
    const std::string amount = std::to_string(whitespace) +
                               (whitespace == 1 ? " byte of whitespace" : " bytes of whitespace");
    if (!bom) {
        return amount;
    }
    if (whitespace == 0) {
        return "a UTF-8 byte order mark";
    }
    return "a UTF-8 byte order mark and " + amount;
}

const Skipped& IsaError::skipped() const {
    return std::visit([](const auto& e) -> const Skipped& { return e.skipped; }, kind);
}

Skipped& IsaError::skipped() {
    return std::visit([](auto& e) -> Skipped& { return e.skipped; }, kind);
}

std::string IsaError::to_string() const {
    if (const auto* e = std::get_if<NotIsa>(&kind)) {
        std::string out = "input does not start with an ISA segment (";
        if (!e->found.empty()) {
            out += "found bytes [";
            for (std::size_t i = 0; i < e->found.size(); ++i) {
                if (i != 0) {
                    out += ' ';
                }
                out += hex_byte(e->found[i]);
            }
            out += ']';
            if (e->skipped.any()) {
                out += " after skipping " + e->skipped.to_string();
            }
        } else if (e->skipped.any()) {
            out += "input holds only " + e->skipped.to_string();
        } else {
            out += "input is empty";
        }
        out += ')';
        return out;
    }
    const auto& e = std::get<Truncated>(kind);
    std::string out = "ISA segment truncated after " + std::to_string(e.len) + " bytes";
    if (e.skipped.any()) {
        out += " (counted after skipping " + e.skipped.to_string() + ")";
    }
    if (e.found < isa_separators) {
        out += ": found " + std::to_string(e.found) + " of 16 element separators";
    } else {
        out += ": ISA16 or the terminator is missing";
    }
    return out;
}

}  // namespace remitrax
