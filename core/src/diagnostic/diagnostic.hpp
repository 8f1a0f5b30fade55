// Findings about the data of a file: the Diagnostic record, the fourteen kinds of Rule with
// their SNIP levels, and the text forms people read.
//
// Every text form writes into a caller's sink. A sink that fails stops the writing at once;
// the failure stays with the sink (TextSink) or is returned unchanged (write_text).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "spec/elements.hpp"

namespace remitrax {

// Receives the chunks of a text, in order. write returns false when the sink failed; no
// further chunk is written after that and the writer returns false.
class TextSink {
  public:
    virtual bool write(std::string_view text) = 0;

  protected:
    ~TextSink() = default;
};

// Appends to a string; never fails.
class StringSink final : public TextSink {
  public:
    explicit StringSink(std::string& out) : out_(out) {}
    bool write(std::string_view text) override {
        out_ += text;
        return true;
    }

  private:
    std::string& out_;
};

// SNIP level 1, 2 or 3, stored as 0, 1 or 2. Text: "SNIP 1", "SNIP 2", "SNIP 3".
struct SnipLevel {
    std::uint8_t value = 0;

    // The level's number as people know it: the stored value plus one.
    unsigned number() const { return value + 1U; }
    bool write_to(TextSink& sink) const;

    friend bool operator==(SnipLevel, SnipLevel) = default;
};

// One open loop: its name and the 1-based running count of its instances. Text: the name
// through render_key, "#", the instance (2100#3).
struct LoopRef {
    std::string name;
    std::uint64_t instance = 0;

    bool write_to(TextSink& sink) const;
    std::string to_string() const;

    friend bool operator==(const LoopRef&, const LoopRef&) = default;
};

// An element or component of a segment, borrowed from whatever holds the id. Text: the id as
// lossy UTF-8, the element padded to two digits, then "-" and the unpadded component when
// there is one (NM109, SVC01-2, XX100).
struct ElementRef {
    std::string_view segment;
    std::uint64_t element = 0;
    std::optional<std::uint64_t> component;

    bool write_to(TextSink& sink) const;
};

// Bytes shown as a double-quoted, escaped text, by append_quoted.
struct Quoted {
    std::string_view bytes;

    bool write_to(TextSink& sink) const;
};

// What was found, with the values its sentence shows. Segment ids, data and codes are the
// file's bytes, owned so that a rule outlives the segment it was made from.
struct Rule {
    struct ByteOrderMark {
        friend bool operator==(const ByteOrderMark&, const ByteOrderMark&) = default;
    };
    struct UnknownSegment {
        std::string segment;
        friend bool operator==(const UnknownSegment&, const UnknownSegment&) = default;
    };
    struct ImplicitLoop {
        std::string loop;
        std::string trigger;  // the rendered trigger of the loop
        std::string segment;
        friend bool operator==(const ImplicitLoop&, const ImplicitLoop&) = default;
    };
    struct UnterminatedLoop {
        std::string loop;
        std::optional<std::uint64_t> opened_at;  // 0-based index of the opening segment
        std::string end;
        friend bool operator==(const UnterminatedLoop&, const UnterminatedLoop&) = default;
    };
    struct ControlCountMismatch {
        std::string segment;
        std::uint64_t element = 0;
        std::string declared;  // the count element as written
        std::uint64_t actual = 0;
        friend bool operator==(const ControlCountMismatch&, const ControlCountMismatch&) = default;
    };
    struct ControlElementMissing {
        std::string segment;
        std::uint64_t element = 0;
        friend bool operator==(const ControlElementMissing&,
                               const ControlElementMissing&) = default;
    };
    // One side of a control number comparison.
    struct ControlValue {
        std::string segment;
        std::uint64_t element = 0;
        std::string text;
        friend bool operator==(const ControlValue&, const ControlValue&) = default;
    };
    struct ControlNumberMismatch {
        std::optional<std::uint64_t> opened_at;  // 0-based index of the opening segment
        ControlValue closer;
        ControlValue opener;
        friend bool operator==(const ControlNumberMismatch&,
                               const ControlNumberMismatch&) = default;
    };
    struct RequiredElementMissing {
        std::string segment;
        std::uint64_t element = 0;
        std::optional<std::uint64_t> component;
        std::string name;
        friend bool operator==(const RequiredElementMissing&,
                               const RequiredElementMissing&) = default;
    };
    struct TypeMismatch {
        std::string segment;
        std::uint64_t element = 0;
        std::optional<std::uint64_t> component;
        std::string name;
        ElementType type;
        friend bool operator==(const TypeMismatch&, const TypeMismatch&) = default;
    };
    struct LengthOutOfRange {
        std::string segment;
        std::uint64_t element = 0;
        std::optional<std::uint64_t> component;
        std::string name;
        std::uint64_t length = 0;
        std::optional<std::uint64_t> min;
        std::optional<std::uint64_t> max;
        friend bool operator==(const LengthOutOfRange&, const LengthOutOfRange&) = default;
    };
    struct ValueDropped {
        std::string column;
        std::string table;
        std::uint64_t length = 0;  // what the column would have reached
        friend bool operator==(const ValueDropped&, const ValueDropped&) = default;
    };
    struct CompositeShape {
        std::string segment;
        std::uint64_t element = 0;
        std::string name;
        std::uint64_t found = 0;
        std::uint64_t declared = 0;
        friend bool operator==(const CompositeShape&, const CompositeShape&) = default;
    };
    struct CodeNotInList {
        std::string segment;
        std::uint64_t element = 0;
        std::optional<std::uint64_t> component;
        std::string name;
        std::vector<std::string> codes;  // the element's list, as the spec stores it
        friend bool operator==(const CodeNotInList&, const CodeNotInList&) = default;
    };
    // A finding of an outside validator, at the level it chose.
    struct External {
        std::string origin;
        std::string message;
        std::optional<std::string> code;
        SnipLevel level;
        friend bool operator==(const External&, const External&) = default;
    };

    // The alternative's index is the kind's number.
    std::variant<ByteOrderMark, UnknownSegment, ImplicitLoop, UnterminatedLoop,
                 ControlCountMismatch, ControlElementMissing, ControlNumberMismatch,
                 RequiredElementMissing, TypeMismatch, LengthOutOfRange, ValueDropped,
                 CompositeShape, CodeNotInList, External>
        kind;

    // SNIP 1 for kinds 0 to 6, SNIP 2 for kinds 7 to 12, an External's own level.
    SnipLevel level() const;
    // "ByteOrderMark" ... "External".
    std::string_view kind_name() const;
    // The rule's sentence.
    bool write_to(TextSink& sink) const;
    std::string to_string() const;

    friend bool operator==(const Rule&, const Rule&) = default;
};

// The most a column of text holds, in bytes; ValueDropped's sentence names it.
inline constexpr std::uint64_t kMaxColumnBytes = 2147483647;

// One finding. It owns all its fields and is copied whole when passed on.
struct Diagnostic {
    std::optional<std::uint64_t> segment;  // 0-based; absent at the end of the input
    std::optional<std::uint64_t> element;
    std::optional<std::uint64_t> component;
    Rule rule;
    std::vector<LoopRef> loops;  // outermost first; empty at the root
    std::string datum;
    SnipLevel level;  // rule.level() for every finding the core makes

    // The one-line text: level · sentence · place · at loops · datum.
    bool write_to(TextSink& sink) const;
    std::string to_string() const;

    friend bool operator==(const Diagnostic&, const Diagnostic&) = default;
};

// Writes `value`'s text into a sink whose write returns std::expected<void, E>. The first
// failure ends the writing and is returned as the sink gave it.
template <class Sink, class Value>
auto write_text(Sink& sink, const Value& value)
    -> std::remove_cvref_t<decltype(sink.write(std::string_view()))> {
    using Result = std::remove_cvref_t<decltype(sink.write(std::string_view()))>;
    class Adapter final : public TextSink {
      public:
        explicit Adapter(Sink& inner) : inner_(inner) {}
        bool write(std::string_view text) override {
            result = inner_.write(text);
            return result.has_value();
        }
        Result result;

      private:
        Sink& inner_;
    };
    Adapter adapter(sink);
    value.write_to(adapter);
    return std::move(adapter.result);
}

}  // namespace remitrax
