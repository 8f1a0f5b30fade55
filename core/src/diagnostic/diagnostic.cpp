// The text forms of findings: each rule's sentence, the one-line text of a diagnostic and the
// small values they are made of, written into a caller's sink without allocating.
#include "diagnostic/diagnostic.hpp"

#include <array>
#include <charconv>
#include <type_traits>

#include "base/text.hpp"
#include "spec/render.hpp"

namespace remitrax {

namespace {

// A number in decimal, without allocating.
class Digits {
  public:
    explicit Digits(std::uint64_t value) {
        length_ = static_cast<std::size_t>(
            std::to_chars(digits_.data(), digits_.data() + digits_.size(), value).ptr -
            digits_.data());
    }
    std::string_view text() const { return {digits_.data(), length_}; }

  private:
    std::array<char, 20> digits_{};
    std::size_t length_ = 0;
};

// Writes each chunk in turn, stopping at the first failure.
class Writer {
  public:
    explicit Writer(TextSink& sink) : sink_(sink) {}

    Writer& text(std::string_view chunk) {
        if (ok_) {
            ok_ = sink_.write(chunk);
        }
        return *this;
    }
    Writer& number(std::uint64_t value) { return text(Digits(value).text()); }
    template <class Value>
    Writer& value(const Value& v) {
        if (ok_) {
            ok_ = v.write_to(sink_);
        }
        return *this;
    }
    Writer& quoted(std::string_view bytes) { return value(Quoted{bytes}); }
    Writer& element(std::string_view segment, std::uint64_t element,
                    std::optional<std::uint64_t> component = std::nullopt) {
        return value(ElementRef{segment, element, component});
    }

    bool ok() const { return ok_; }

  private:
    TextSink& sink_;
    bool ok_ = true;
};

template <class Value>
std::string text_of(const Value& value) {
    std::string out;
    StringSink sink(out);
    value.write_to(sink);
    return out;
}

constexpr std::array<std::string_view, 14> kKindNames = {
    "ByteOrderMark",         "UnknownSegment",
    "ImplicitLoop",          "UnterminatedLoop",
    "ControlCountMismatch",  "ControlElementMissing",
    "ControlNumberMismatch", "RequiredElementMissing",
    "TypeMismatch",          "LengthOutOfRange",
    "ValueDropped",          "CompositeShape",
    "CodeNotInList",         "External"};
static_assert(kKindNames.size() == std::variant_size_v<decltype(Rule::kind)>);

// Kinds before this one are structure and envelope findings (SNIP 1); from it on, element and
// value findings (SNIP 2).
constexpr std::size_t kFirstElementKind = 7;
static_assert(std::is_same_v<std::variant_alternative_t<kFirstElementKind, decltype(Rule::kind)>,
                             Rule::RequiredElementMissing>);

// Above this many codes the sentence gives only their number.
constexpr std::size_t kMaxListedCodes = 5;

// "element ER (name) ", the common start of the element sentences.
Writer& element_head(Writer& w, std::string_view segment, std::uint64_t element,
                     std::optional<std::uint64_t> component, std::string_view name) {
    return w.text("element ").element(segment, element, component).text(" (").text(name).text(") ");
}

struct SentenceWriter {
    Writer& w;

    void operator()(const Rule::ByteOrderMark&) const {
        w.text(
            "the input starts with a UTF-8 byte order mark, kept as leading trivia of the first "
            "segment");
    }
    void operator()(const Rule::UnknownSegment& r) const {
        w.text("segment ")
            .quoted(r.segment)
            .text(" is not part of the structure: no open loop holds it and it opens no loop");
    }
    void operator()(const Rule::ImplicitLoop& r) const {
        w.text("loop ")
            .quoted(r.loop)
            .text(" opened without its own trigger (")
            .text(r.trigger)
            .text(") to hold segment ")
            .quoted(r.segment);
    }
    void operator()(const Rule::UnterminatedLoop& r) const {
        w.text("loop ").quoted(r.loop).text(" ");
        if (r.opened_at) {
            w.text("opened at segment #").number(*r.opened_at).text(" ");
        }
        w.text("closed without its end segment ").quoted(r.end);
    }
    void operator()(const Rule::ControlCountMismatch& r) const {
        w.element(r.segment, r.element)
            .text(" declares ")
            .quoted(r.declared)
            .text(" but the count is ")
            .number(r.actual);
    }
    void operator()(const Rule::ControlElementMissing& r) const {
        w.text("control element ")
            .element(r.segment, r.element)
            .text(" is missing: the segment has no element ")
            .number(r.element);
    }
    void operator()(const Rule::ControlNumberMismatch& r) const {
        w.element(r.closer.segment, r.closer.element)
            .text(" ")
            .quoted(r.closer.text)
            .text(" does not match ")
            .element(r.opener.segment, r.opener.element)
            .text(" ")
            .quoted(r.opener.text);
        if (r.opened_at) {
            w.text(" of segment #").number(*r.opened_at);
        }
    }
    void operator()(const Rule::RequiredElementMissing& r) const {
        w.text("required element ")
            .element(r.segment, r.element, r.component)
            .text(" (")
            .text(r.name)
            .text(") is missing or empty");
    }
    void operator()(const Rule::TypeMismatch& r) const {
        element_head(w, r.segment, r.element, r.component, r.name)
            .text("is not a valid ")
            .text(r.type.to_string());
    }
    void operator()(const Rule::LengthOutOfRange& r) const {
        element_head(w, r.segment, r.element, r.component, r.name)
            .text("has length ")
            .number(r.length)
            .text("; the spec allows ");
        if (r.min && r.max) {
            w.number(*r.min).text(" to ").number(*r.max);
        } else if (r.max) {
            w.text("at most ").number(*r.max);
        } else if (r.min) {
            w.text("at least ").number(*r.min);
        } else {
            w.text("any length");
        }
    }
    void operator()(const Rule::ValueDropped& r) const {
        w.text("text for column ")
            .quoted(r.column)
            .text(" of table ")
            .quoted(r.table)
            .text(" was not stored: it would bring the column to ")
            .number(r.length)
            .text(" bytes and a column holds at most ")
            .number(kMaxColumnBytes);
    }
    void operator()(const Rule::CompositeShape& r) const {
        element_head(w, r.segment, r.element, std::nullopt, r.name)
            .text("has ")
            .number(r.found)
            .text(" components; the spec declares ")
            .number(r.declared);
    }
    void operator()(const Rule::CodeNotInList& r) const {
        element_head(w, r.segment, r.element, r.component, r.name);
        if (r.codes.size() == 1) {
            w.text("is not the one code the spec lists for it");
        } else {
            w.text("is not one of the ")
                .number(r.codes.size())
                .text(" codes the spec lists for it");
        }
        if (r.codes.size() <= kMaxListedCodes) {
            w.text(" (");
            for (std::size_t i = 0; i < r.codes.size(); ++i) {
                if (i > 0) {
                    w.text(", ");
                }
                w.quoted(r.codes[i]);
            }
            w.text(")");
        }
    }
    void operator()(const Rule::External& r) const {
        w.text(r.message).text(" (reported by ").text(r.origin);
        if (r.code) {
            w.text(", code ").text(*r.code);
        }
        w.text(")");
    }
};

constexpr std::string_view kSeparator = " \u00B7 ";

}  // namespace

bool SnipLevel::write_to(TextSink& sink) const {
    return Writer(sink).text("SNIP ").number(number()).ok();
}

bool LoopRef::write_to(TextSink& sink) const {
    return Writer(sink).text(render_key(name)).text("#").number(instance).ok();
}

std::string LoopRef::to_string() const {
    return text_of(*this);
}

bool ElementRef::write_to(TextSink& sink) const {
    Writer w(sink);
    w.text(lossy_utf8(segment));
    if (element < 10) {
        w.text("0");
    }
    w.number(element);
    if (component) {
        w.text("-").number(*component);
    }
    return w.ok();
}

bool Quoted::write_to(TextSink& sink) const {
    std::string text;
    append_quoted(text, bytes);
    return sink.write(text);
}

SnipLevel Rule::level() const {
    if (const auto* external = std::get_if<External>(&kind)) {
        return external->level;
    }
    return SnipLevel{kind.index() < kFirstElementKind ? std::uint8_t{0} : std::uint8_t{1}};
}

std::string_view Rule::kind_name() const {
    return kKindNames[kind.index()];
}

bool Rule::write_to(TextSink& sink) const {
    Writer w(sink);
    std::visit(SentenceWriter{w}, kind);
    return w.ok();
}

std::string Rule::to_string() const {
    return text_of(*this);
}

bool Diagnostic::write_to(TextSink& sink) const {
    Writer w(sink);
    w.value(level).text(kSeparator).value(rule).text(kSeparator);
    if (segment) {
        w.text("segment #").number(*segment);
    } else {
        w.text("end of stream");
    }
    if (element) {
        w.text(", element ").number(*element);
        if (component) {
            w.text(", component ").number(*component);
        }
    }
    w.text(kSeparator).text("at ");
    if (loops.empty()) {
        w.text("the root");
    }
    for (std::size_t i = 0; i < loops.size(); ++i) {
        if (i > 0) {
            w.text("/");
        }
        w.value(loops[i]);
    }
    return w.text(kSeparator).text("datum ").quoted(datum).ok();
}

std::string Diagnostic::to_string() const {
    return text_of(*this);
}

}  // namespace remitrax
