#include "x12/segment.hpp"

#include <cstring>

namespace remitrax {

namespace {

// Below this length a plain loop beats the call into memchr.
constexpr std::size_t short_value = 16;

std::size_t find_byte(std::string_view bytes, char target) {
    if (bytes.size() < short_value) {
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

}  // namespace

std::size_t find_unescaped(std::string_view bytes, char target, std::optional<char> release) {
    if (!release) {
        return find_byte(bytes, target);
    }
    const char r = *release;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // The release test comes first: a release byte equal to the target is an escape.
        if (bytes[i] == r) {
            ++i;
        } else if (bytes[i] == target) {
            return i;
        }
    }
    return std::string_view::npos;
}

bool holds_release(std::string_view value, std::optional<char> release) {
    return release && find_byte(value, *release) != std::string_view::npos;
}

std::string_view unescape(std::string_view value, std::optional<char> release, std::string& out) {
    if (!holds_release(value, release)) {
        return value;
    }
    out.clear();
    out.reserve(value.size());
    bool escaped = false;
    for (const char c : value) {
        if (!escaped && c == *release) {
            escaped = true;
            continue;
        }
        escaped = false;
        out.push_back(c);
    }
    return out;
}

void Value::assign(std::string_view raw, std::optional<char> release) {
    if (!holds_release(raw, release)) {
        view_ = raw;
        owned_ = false;
        return;
    }
    unescape(raw, release, copy_);
    view_ = {};
    owned_ = true;
}

std::optional<std::string_view> Pieces::next() {
    if (!rest_) {
        return std::nullopt;
    }
    const std::string_view text = *rest_;
    const std::size_t q = find_unescaped(text, component_, release_);
    if (q == std::string_view::npos) {
        rest_.reset();
        return text;
    }
    rest_ = text.substr(q + 1);
    return text.substr(0, q);
}

void Element::reparse(std::string_view value, char component, std::optional<char> release) {
    const std::size_t q = find_unescaped(value, component, release);
    if (q == std::string_view::npos) {
        composite_ = false;
        count_ = 0;
        simple_.assign(value, release);
        return;
    }
    composite_ = true;
    count_ = 0;
    const auto push = [&](std::string_view piece) {
        if (count_ == components_.size()) {
            components_.emplace_back();
        }
        components_[count_++].assign(piece, release);
    };
    push(value.substr(0, q));
    Pieces pieces(value.substr(q + 1), component, release);
    while (const auto piece = pieces.next()) {
        push(*piece);
    }
}

void Segment::reparse(std::size_t index, const Frame& frame, const Delimiters& delimiters) {
    raw_ = frame.raw;
    index_ = index;
    terminated_ = frame.terminated;
    count_ = 0;
    const std::string_view body = frame.body;
    if (!delimiters.release) {
        // Without a release character one pass over the body finds both separators.
        const char element = delimiters.element;
        const char component = delimiters.component;
        const char* const begin = body.data();
        const char* const end = begin + body.size();
        const char* p = begin;
        while (p != end && *p != element) {
            ++p;
        }
        id_ = std::string_view(begin, static_cast<std::size_t>(p - begin));
        if (p == end) {
            return;
        }
        for (;;) {
            const char* const start = ++p;
            bool composite = false;
            while (p != end && *p != element) {
                composite |= *p == component;
                ++p;
            }
            const std::string_view piece(start, static_cast<std::size_t>(p - start));
            if (count_ == elements_.size()) {
                elements_.emplace_back();
            }
            if (composite) {
                elements_[count_++].reparse(piece, component, std::nullopt);
            } else {
                elements_[count_++].assign_plain(piece);
            }
            if (p == end) {
                return;
            }
        }
    }
    const std::size_t p = find_unescaped(body, delimiters.element, delimiters.release);
    if (p == std::string_view::npos) {
        id_ = body;
        return;
    }
    id_ = body.substr(0, p);
    // Empty pieces are kept: "a**b" has three elements, and a body ending in the separator
    // has a final empty element.
    std::string_view rest = body.substr(p + 1);
    for (;;) {
        const std::size_t q = find_unescaped(rest, delimiters.element, delimiters.release);
        const std::string_view piece = q == std::string_view::npos ? rest : rest.substr(0, q);
        if (count_ == elements_.size()) {
            elements_.emplace_back();
        }
        elements_[count_++].reparse(piece, delimiters.component, delimiters.release);
        if (q == std::string_view::npos) {
            return;
        }
        rest = rest.substr(q + 1);
    }
}

}  // namespace remitrax
