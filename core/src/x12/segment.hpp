// Segments and elements, parsed in place from a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "x12/delimiters.hpp"
#include "x12/frame.hpp"

namespace remitrax {

// An element or component value: a view of the input, or of a copy owned by the Element or
// Segment that parsed it when release characters had to be removed. A compact view, so that
// refilling an element writes a few words.
class Value {
  public:
    Value() = default;

    std::string_view bytes() const { return {data_, size_ & ~owned_bit}; }
    bool is_owned() const { return (size_ & owned_bit) != 0; }

  private:
    friend class Element;
    friend class Segment;

    // The top bit of the length tells an owned copy from a view of the input.
    static constexpr std::size_t owned_bit = ~(~std::size_t{0} >> 1);

    Value(const char* data, std::size_t size) : data_(data), size_(size) {}

    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Returns `value` without its release characters: a view of `value` itself when it holds
// none (or there is no release character), else a copy written into `out`, which is
// returned as a view.
std::string_view unescape(std::string_view value, std::optional<char> release, std::string& out);

// True when `value` holds the release byte; what unescape needs to know before copying.
bool holds_release(std::string_view value, std::optional<char> release);

// One element: Simple (one value) or Composite (two or more component values).
class Element {
  public:
    Element() = default;
    Element(const Element& other);
    Element& operator=(const Element& other);
    Element(Element&&) noexcept = default;
    Element& operator=(Element&&) noexcept = default;
    ~Element() = default;

    bool is_composite() const { return count_ != 0; }
    // The value of a simple element.
    const Value& value() const { return simple_; }
    // The components of a composite element; empty for a simple one.
    std::span<const Value> components() const { return {components_, count_}; }

    // Refills this element from the raw bytes of its value. It becomes composite exactly
    // when the value holds an unescaped component separator. Storage of an earlier refill
    // is kept and reused.
    void reparse(std::string_view value, char component, std::optional<char> release);

  private:
    friend class Segment;

    // Components and unescaped copies. A Segment keeps one for all its elements; an
    // element refilled on its own keeps its own. Both vectors are sized before they are
    // written, so the views into them never move while a segment is parsed.
    struct Store {
        std::vector<Value> parts;
        std::vector<char> text;
    };

    // Splits `value` into this element, writing components from `parts` on and unescaped
    // bytes from `text` on, which it advances; returns the number of components written.
    std::size_t split_into(std::string_view value, char component, std::optional<char> release,
                           Value* parts, char*& text);
    // Points the views of a copy of an element stored in `from` at the same bytes in `to`.
    void rebase(const Store& from, Store& to);

    Value simple_;
    // Composite exactly when count_ is not zero: a composite has at least two components.
    const Value* components_ = nullptr;
    std::size_t count_ = 0;
    // Only for an element refilled on its own.
    std::unique_ptr<Store> own_;
};

// Splits a composite element's text after its first component separator.
class Pieces {
  public:
    Pieces(std::string_view rest, char component, std::optional<char> release)
        : rest_(rest), component_(component), release_(release) {}

    // The next raw (still escaped) piece, or nothing at the end. An empty remainder gives
    // one empty piece, so "a:" yields "a" then "".
    std::optional<std::string_view> next();

  private:
    std::optional<std::string_view> rest_;
    char component_;
    std::optional<char> release_;
};

// Position of the first unescaped `target` in `bytes`, or npos. A release byte escapes the
// byte after it, even a separator or another release byte; a release byte in the last
// position ends the scan without a match.
std::size_t find_unescaped(std::string_view bytes, char target, std::optional<char> release);

// The text of the element at a 1-based position; nothing at position 0 or past the last
// element. A simple element gives a view of its value. A composite element gives its
// components joined by `separator`, written into `scratch` and viewed there, so the result
// lives until `scratch` changes. Inline: the columns read a simple element's text this way
// for every segment.
inline std::optional<std::string_view> element_text(std::span<const Element> elements,
                                                    std::uint64_t position, char separator,
                                                    std::string& scratch) {
    if (position == 0 || position > elements.size()) {
        return std::nullopt;
    }
    const Element& element = elements[static_cast<std::size_t>(position - 1)];
    if (!element.is_composite()) {
        return element.value().bytes();
    }
    scratch.clear();
    bool first = true;
    for (const Value& component : element.components()) {
        if (!first) {
            scratch += separator;
        }
        first = false;
        scratch += component.bytes();
    }
    return std::string_view(scratch);
}

// One parsed segment. It borrows the input: raw and id are always views, element values
// are views unless they had to be unescaped. Copies own their unescaped values; moves keep
// every view valid.
class Segment {
  public:
    Segment() = default;
    Segment(const Segment& other);
    Segment& operator=(const Segment& other);
    Segment(Segment&&) noexcept = default;
    Segment& operator=(Segment&&) noexcept = default;
    ~Segment() = default;

    // Before the first refill there is no storage to skip the id slot of.
    std::span<const Element> elements() const {
        return {pieces_.data() + (count_ != 0 ? 1 : 0), count_};
    }
    std::string_view raw() const { return raw_; }
    // The body up to the first element separator, exactly as written (not unescaped).
    std::string_view id() const { return id_; }
    std::size_t index() const { return index_; }
    bool terminated() const { return terminated_; }

    // Refills this segment from a frame. Storage is reused, so parsing many segments into
    // one Segment allocates nothing once it has grown to the largest shape. Inline, so that a
    // frame built just before is read from registers rather than from memory.
    void reparse(std::size_t index, const Frame& frame, const Delimiters& delimiters) {
        // Field by field: the frame was just written that way, and a whole-view copy would
        // read it back in one wider load that store forwarding cannot serve.
        raw_ = std::string_view(frame.raw.data(), frame.raw.size());
        index_ = index;
        terminated_ = frame.terminated;
#if defined(REMITRAX_ABLATION_SPLIT_BLOCKS)
        // Every body split one separator search at a time, as with a release character.
        split_released(frame.body, delimiters);
#else
        if (delimiters.release) {
            split_released(frame.body, delimiters);
        } else {
            split_plain(frame.body, delimiters.element, delimiters.component);
        }
#endif
    }

  private:
    // The split without a release character, sixteen bytes at a time. Elements stay simple
    // until a block holds a component separator; split_composite goes on from that block,
    // with the elements before it in [pieces_, out) and the open one starting at `start`.
    void split_plain(std::string_view body, char element, char component);
    Element* split_composite(std::string_view body, char element, char component, std::size_t at,
                             Element* out, const char* start);
    void split_released(std::string_view body, const Delimiters& delimiters);
    // Sizes the component list before any element points into it.
    Value* reserve_parts(std::size_t parts);
    // Doubles the element storage; returns `at` in the new storage.
    Element* grow(Element* at);
    // Doubles the component storage, repointing the elements before `upto`.
    Value* grow_parts(const Element* upto);

    // The pieces of the body split at element separators: the id, then the elements. The
    // elements live in [1, count_ + 1); the rest is spare storage kept for reuse.
    std::vector<Element> pieces_;
    Element::Store store_;
    std::size_t count_ = 0;
    std::string_view raw_;
    std::string_view id_;
    std::size_t index_ = 0;
    bool terminated_ = false;
};

}  // namespace remitrax
