// Parsing segments and elements in place: the separator searches, unescaping, and the storage
// kept from one segment to the next.
#include "x12/segment.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "base/bytes.hpp"

namespace remitrax {

namespace {

// Copies `value` without its release characters to `out`; returns the end of the copy.
char* copy_unescaped(std::string_view value, char release, char* out) {
    bool escaped = false;
    for (const char c : value) {
        if (!escaped && c == release) {
            escaped = true;
            continue;
        }
        escaped = false;
        *out++ = c;
    }
    return out;
}

// The scanner of a split finds element separators as `first` and component separators as
// `second`.
using bytes::PairFinder;
using bytes::PairHits;
using bytes::Word;

// Calls f(hits, at) for each block of `body` from offset `at`, a multiple of 16, on, until
// f returns false; true when it never did. The last bytes are read without reading past the
// body: a long body's last block overlaps the one before it, a short body is read as two
// overlapping words.
template <class F>
bool each_block(std::string_view body, std::size_t at, const PairFinder& finder, F f) {
    const char* const begin = body.data();
    const std::size_t n = body.size();
    for (; at + 16 <= n; at += 16) {
        if (!f(finder.at(begin + at), at)) {
            return false;
        }
    }
    if (at == n) {
        return true;
    }
    const std::size_t rest = n - at;
    PairHits hits;
    if (n >= 16) {
        hits = finder.at(begin + n - 16);
        hits.first >>= 16 - rest;
        hits.second >>= 16 - rest;
    } else if (n >= 8) {
        hits = finder.of(bytes::load<Word>(begin), bytes::load<Word>(begin + n - 8));
        hits.first = (hits.first & 0xff) | (hits.first >> 8) << (n - 8);
        hits.second = (hits.second & 0xff) | (hits.second >> 8) << (n - 8);
    } else {
        // Bytes past the body read as zero, which may be a separator.
        hits = finder.of(bytes::load_short(begin, n), 0);
        const unsigned valid = (1U << n) - 1;
        hits.first &= valid;
        hits.second &= valid;
    }
    return f(hits, at);
}

}  // namespace

std::size_t find_unescaped(std::string_view bytes, char target, std::optional<char> release) {
    if (!release) {
        return bytes::find(bytes, target);
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
    return release && bytes::find(value, *release) != std::string_view::npos;
}

std::string_view unescape(std::string_view value, std::optional<char> release, std::string& out) {
    if (!holds_release(value, release)) {
        return value;
    }
    out.resize(value.size());
    const char* const end = copy_unescaped(value, *release, out.data());
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
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

Element::Element(const Element& other)
    : simple_(other.simple_),
      components_(other.components_),
      count_(other.count_),
      own_(other.own_ ? std::make_unique<Store>(*other.own_) : nullptr) {
    if (own_) {
        rebase(*other.own_, *own_);
    }
}

Element& Element::operator=(const Element& other) {
    if (this != &other) {
        *this = Element(other);
    }
    return *this;
}

void Element::rebase(const Store& from, Store& to) {
    const auto moved = [&](Value v) {
        if (v.is_owned()) {
            v.data_ = to.text.data() + (v.data_ - from.text.data());
        }
        return v;
    };
    simple_ = moved(simple_);
    if (count_ != 0) {
        Value* const parts = to.parts.data() + (components_ - from.parts.data());
        for (std::size_t i = 0; i < count_; ++i) {
            parts[i] = moved(parts[i]);
        }
        components_ = parts;
    }
}

std::size_t Element::split_into(std::string_view value, char component, std::optional<char> release,
                                Value* parts, char*& text) {
    const auto make = [&](std::string_view raw) {
        if (!holds_release(raw, release)) {
            return Value(raw.data(), raw.size());
        }
        char* const from = text;
        text = copy_unescaped(raw, *release, text);
        return Value(from, static_cast<std::size_t>(text - from) | Value::owned_bit);
    };
    const std::size_t q = find_unescaped(value, component, release);
    if (q == std::string_view::npos) {
        simple_ = make(value);
        count_ = 0;
        return 0;
    }
    simple_ = Value();
    std::size_t n = 0;
    parts[n++] = make(value.substr(0, q));
    Pieces pieces(value.substr(q + 1), component, release);
    while (const auto piece = pieces.next()) {
        parts[n++] = make(*piece);
    }
    components_ = parts;
    count_ = n;
    return n;
}

void Element::reparse(std::string_view value, char component, std::optional<char> release) {
    if (!own_) {
        own_ = std::make_unique<Store>();
    }
    // A value with k component separators has at most k + 1 components, and its unescaped
    // bytes are never more than its raw ones.
    const std::size_t parts = bytes::count(value, component) + 1;
    if (own_->parts.size() < parts) {
        own_->parts.resize(parts);
    }
    if (release && own_->text.size() < value.size()) {
        own_->text.resize(value.size());
    }
    char* text = own_->text.data();
    split_into(value, component, release, own_->parts.data(), text);
}

Segment::Segment(const Segment& other)
    : pieces_(other.pieces_),
      store_(other.store_),
      count_(other.count_),
      raw_(other.raw_),
      id_(other.id_),
      index_(other.index_),
      terminated_(other.terminated_) {
    for (Element& element : std::span(pieces_).subspan(count_ != 0 ? 1 : 0, count_)) {
        element.rebase(other.store_, store_);
    }
}

Segment& Segment::operator=(const Segment& other) {
    if (this != &other) {
        *this = Segment(other);
    }
    return *this;
}

Element* Segment::grow(Element* at) {
    const auto used = static_cast<std::size_t>(at - pieces_.data());
    pieces_.resize(std::max<std::size_t>(16, pieces_.size() * 2));
    return pieces_.data() + used;
}

Value* Segment::reserve_parts(std::size_t parts) {
    if (store_.parts.size() < parts) {
        store_.parts.resize(parts);
    }
    return store_.parts.data();
}

Value* Segment::grow_parts(const Element* upto) {
    const Value* const old = store_.parts.data();
    std::vector<Value> grown(std::max<std::size_t>(32, store_.parts.size() * 2));
    std::copy(store_.parts.begin(), store_.parts.end(), grown.begin());
    for (Element& e : std::span(pieces_.data(), upto)) {
        if (e.count_ != 0) {
            e.components_ = grown.data() + (e.components_ - old);
        }
    }
    store_.parts = std::move(grown);
    return store_.parts.data();
}

void Segment::split_plain(std::string_view body, char element, char component) {
    const char* const begin = body.data();
    Element* out = pieces_.data();
    Element* cap = out + pieces_.size();
    const char* start = begin;  // the open element's first byte
    std::size_t stop = 0;
    const bool simple =
        each_block(body, 0, PairFinder(element, component), [&](PairHits hits, std::size_t at) {
            if (hits.second != 0) [[unlikely]] {
                stop = at;
                return false;
            }
            // At most 16 elements end in a block.
            if (cap - out < 16) [[unlikely]] {
                out = grow(out);
                cap = pieces_.data() + pieces_.size();
            }
            const char* const block = begin + at;
            for (unsigned bits = hits.first; bits != 0; bits &= bits - 1) {
                const char* const end = block + static_cast<unsigned>(std::countr_zero(bits));
                out->simple_ = Value(start, static_cast<std::size_t>(end - start));
                out->count_ = 0;
                ++out;
                start = end + 1;
            }
            return true;
        });
    if (simple) [[likely]] {
        if (out == cap) [[unlikely]] {
            out = grow(out);
        }
        out->simple_ = Value(start, static_cast<std::size_t>(begin + body.size() - start));
        out->count_ = 0;
        ++out;
    } else {
        out = split_composite(body, element, component, stop, out, start);
    }
    count_ = static_cast<std::size_t>(out - pieces_.data()) - 1;
    id_ = pieces_[0].simple_.bytes();
}

Element* Segment::split_composite(std::string_view body, char element, char component,
                                  std::size_t at, Element* out, const char* start) {
    constexpr std::size_t none = ~std::size_t{0};
    const char* const begin = body.data();
    Value* parts = store_.parts.data();
    std::size_t used = 0;      // components written
    std::size_t first = none;  // the open element's first component, once it has one
    const char* from = start;  // the open component's first byte, once there is one
    const auto close = [&](const char* end) {
        out->simple_ = Value(start, static_cast<std::size_t>(end - start));
        if (first == none) {
            out->count_ = 0;
        } else {
            parts[used++] = Value(from, static_cast<std::size_t>(end - from));
            out->components_ = parts + first;
            out->count_ = used - first;
            first = none;
        }
        ++out;
        start = end + 1;
    };
    each_block(body, at, PairFinder(element, component), [&](PairHits hits, std::size_t block) {
        // Each separator in a block ends at most one element and one component.
        if (pieces_.data() + pieces_.size() - out < 16) {
            out = grow(out);
        }
        if (store_.parts.size() - used < 17) {
            parts = grow_parts(out);
        }
        for (unsigned bits = hits.first | hits.second; bits != 0; bits &= bits - 1) {
            const unsigned bit = bits & (0U - bits);
            const char* const end = begin + block + static_cast<unsigned>(std::countr_zero(bits));
            // A byte that is both separators splits elements.
            if ((hits.first & bit) != 0) {
                close(end);
                continue;
            }
            if (first == none) {
                first = used;
                from = start;
            }
            parts[used++] = Value(from, static_cast<std::size_t>(end - from));
            from = end + 1;
        }
        return true;
    });
    if (out == pieces_.data() + pieces_.size()) {
        out = grow(out);
    }
    close(begin + body.size());
    return out;
}

void Segment::split_released(std::string_view body, const Delimiters& delimiters) {
    const char component = delimiters.component;
    const std::optional<char> release = delimiters.release;
    const std::size_t p = find_unescaped(body, delimiters.element, release);
    count_ = 0;
    if (p == std::string_view::npos) {
        id_ = body;
        return;
    }
    id_ = body.substr(0, p);
    // Unescaped copies are never longer than the body; every piece holds at most one more
    // component than it has separators.
    if (store_.text.size() < body.size()) {
        store_.text.resize(body.size());
    }
    char* text = store_.text.data();
    Value* parts =
        reserve_parts(bytes::count(body, component) + bytes::count(body, delimiters.element) + 1);
    Element* out = pieces_.empty() ? grow(pieces_.data()) : pieces_.data();
    // Empty pieces are kept: "a**b" has three elements, and a body ending in the separator
    // has a final empty element.
    std::string_view rest = body.substr(p + 1);
    for (;;) {
        ++out;
        if (out == pieces_.data() + pieces_.size()) {
            out = grow(out);
        }
        const std::size_t q = find_unescaped(rest, delimiters.element, release);
        const std::string_view piece = q == std::string_view::npos ? rest : rest.substr(0, q);
        parts += out->split_into(piece, component, release, parts, text);
        ++count_;
        if (q == std::string_view::npos) {
            return;
        }
        rest = rest.substr(q + 1);
    }
}

}  // namespace remitrax
