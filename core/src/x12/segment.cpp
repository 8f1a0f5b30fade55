#include "x12/segment.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

std::size_t count_byte(std::string_view bytes, char target) {
    return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), target));
}

// Eight input bytes at a time, the first in the lowest bits.
using Word = std::uint64_t;

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
Word load_short(const char* p, std::size_t n) {
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

// Where the separators are among sixteen input bytes: one bit per byte, the first byte in
// bit 0.
struct Hits {
    unsigned elements = 0;
    unsigned components = 0;
};

#if defined(__SSE2__)

class Finder {
  public:
    Finder(char element, char component)
        : element_(_mm_set1_epi8(element)), component_(_mm_set1_epi8(component)) {}

    // The sixteen bytes at p.
    Hits at(const char* p) const {
        return hits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    // Sixteen bytes given as two words.
    Hits of(Word low, Word high) const {
        return hits(_mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)));
    }

  private:
    Hits hits(__m128i bytes) const {
        return {static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, element_))),
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, component_)))};
    }

    __m128i element_;
    __m128i component_;
};

#else

constexpr Word low_bits = 0x7f7f7f7f7f7f7f7f;

Word repeated(char c) {
    return 0x0101010101010101 * Word{static_cast<unsigned char>(c)};
}

// The high bit of every byte of `word` equal to the byte repeated in `pattern`, and no other.
Word matches(Word word, Word pattern) {
    const Word x = word ^ pattern;
    return ~(((x & low_bits) + low_bits) | x | low_bits);
}

class Finder {
  public:
    Finder(char element, char component)
        : element_(repeated(element)), component_(repeated(component)) {}

    Hits at(const char* p) const { return of(load<Word>(p), load<Word>(p + 8)); }
    Hits of(Word low, Word high) const {
        return {bits(low, element_) | bits(high, element_) << 8,
                bits(low, component_) | bits(high, component_) << 8};
    }

  private:
    // The high bit of each byte gathered into the low eight bits.
    static unsigned bits(Word word, Word pattern) {
        return static_cast<unsigned>(((matches(word, pattern) >> 7) * 0x0102040810204080) >> 56);
    }

    Word element_;
    Word component_;
};

#endif

// Calls f(hits, at) for each block of `body` from offset `at`, a multiple of 16, on, until
// f returns false; true when it never did. The last bytes are read without reading past the
// body: a long body's last block overlaps the one before it, a short body is read as two
// overlapping words.
template <class F>
bool each_block(std::string_view body, std::size_t at, const Finder& finder, F f) {
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
    Hits hits;
    if (n >= 16) {
        hits = finder.at(begin + n - 16);
        hits.elements >>= 16 - rest;
        hits.components >>= 16 - rest;
    } else if (n >= 8) {
        hits = finder.of(load<Word>(begin), load<Word>(begin + n - 8));
        hits.elements = (hits.elements & 0xff) | (hits.elements >> 8) << (n - 8);
        hits.components = (hits.components & 0xff) | (hits.components >> 8) << (n - 8);
    } else {
        // Bytes past the body read as zero, which may be a separator.
        hits = finder.of(load_short(begin, n), 0);
        const unsigned valid = (1U << n) - 1;
        hits.elements &= valid;
        hits.components &= valid;
    }
    return f(hits, at);
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

std::size_t Element::fill(std::string_view value, char component, std::optional<char> release,
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
    const std::size_t parts = count_byte(value, component) + 1;
    if (own_->parts.size() < parts) {
        own_->parts.resize(parts);
    }
    if (release && own_->text.size() < value.size()) {
        own_->text.resize(value.size());
    }
    char* text = own_->text.data();
    fill(value, component, release, own_->parts.data(), text);
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
        each_block(body, 0, Finder(element, component), [&](Hits hits, std::size_t at) {
            if (hits.components != 0) [[unlikely]] {
                stop = at;
                return false;
            }
            // At most 16 elements end in a block.
            if (cap - out < 16) [[unlikely]] {
                out = grow(out);
                cap = pieces_.data() + pieces_.size();
            }
            const char* const block = begin + at;
            for (unsigned bits = hits.elements; bits != 0; bits &= bits - 1) {
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
    each_block(body, at, Finder(element, component), [&](Hits hits, std::size_t block) {
        // Each separator in a block ends at most one element and one component.
        if (pieces_.data() + pieces_.size() - out < 16) {
            out = grow(out);
        }
        if (store_.parts.size() - used < 17) {
            parts = grow_parts(out);
        }
        for (unsigned bits = hits.elements | hits.components; bits != 0; bits &= bits - 1) {
            const unsigned bit = bits & (0U - bits);
            const char* const end = begin + block + static_cast<unsigned>(std::countr_zero(bits));
            // A byte that is both separators splits elements.
            if ((hits.elements & bit) != 0) {
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
        reserve_parts(count_byte(body, component) + count_byte(body, delimiters.element) + 1);
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
        parts += out->fill(piece, component, release, parts, text);
        ++count_;
        if (q == std::string_view::npos) {
            return;
        }
        rest = rest.substr(q + 1);
    }
}

}  // namespace remitrax
