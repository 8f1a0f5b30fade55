// Segments and elements, parsed in place from a frame.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "x12/delimiters.hpp"
#include "x12/frame.hpp"

namespace remitrax {

// An element or component value: a view of the input, or an owned copy when release
// characters had to be removed.
class Value {
  public:
    Value() = default;

    std::string_view bytes() const { return owned_ ? std::string_view(copy_) : view_; }
    bool is_owned() const { return owned_; }

    // Refills from raw bytes, removing release characters. Borrows `raw` when there is
    // nothing to remove; otherwise reuses this value's own string storage.
    void assign(std::string_view raw, std::optional<char> release);

  private:
    std::string_view view_;
    std::string copy_;
    bool owned_ = false;
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

    bool is_composite() const { return composite_; }
    // The value of a simple element.
    const Value& value() const { return simple_; }
    // The components of a composite element; empty for a simple one.
    std::span<const Value> components() const { return {components_.data(), count_}; }

    // Refills this element from the raw bytes of its value. It becomes composite exactly
    // when the value holds an unescaped component separator. Storage of an earlier
    // composite refill is kept and reused.
    void reparse(std::string_view value, char component, std::optional<char> release);
    // Refills as a simple element holding `value`, which the caller has seen to hold neither
    // a component separator nor a release character.
    void assign_plain(std::string_view value) {
        composite_ = false;
        count_ = 0;
        simple_.assign(value, std::nullopt);
    }

  private:
    Value simple_;
    // Components live in [0, count_); entries past it are spare storage from a longer
    // earlier value, kept so refilling allocates nothing.
    std::vector<Value> components_;
    std::size_t count_ = 0;
    bool composite_ = false;
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

// One parsed segment. It borrows the input: raw and id are always views, element values
// are views unless they had to be unescaped.
class Segment {
  public:
    Segment() = default;

    std::span<const Element> elements() const { return {elements_.data(), count_}; }
    std::string_view raw() const { return raw_; }
    // The body up to the first element separator, exactly as written (not unescaped).
    std::string_view id() const { return id_; }
    std::size_t index() const { return index_; }
    bool terminated() const { return terminated_; }

    // Refills this segment from a frame. Element storage is reused, so parsing many
    // segments into one Segment allocates nothing once it has grown to the largest shape.
    void reparse(std::size_t index, const Frame& frame, const Delimiters& delimiters);

  private:
    // Elements live in [0, count_); the rest is spare storage kept for reuse.
    std::vector<Element> elements_;
    std::size_t count_ = 0;
    std::string_view raw_;
    std::string_view id_;
    std::size_t index_ = 0;
    bool terminated_ = false;
};

}  // namespace remitrax
