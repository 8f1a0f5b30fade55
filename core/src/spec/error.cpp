// The text forms of spec errors: each message from its template, and the debug form.
#include "spec/error.hpp"

#include <concepts>
#include <initializer_list>
#include <span>
#include <string_view>

#include "base/text.hpp"
#include "spec/render.hpp"

namespace remitrax {

namespace {

template <typename... Fs>
struct overloaded : Fs... {
    using Fs::operator()...;
};

// One argument of a message template, already in its plain text form.
struct Arg {
    Arg(std::string_view s) : text(s) {}
    Arg(const std::string& s) : text(s) {}
    Arg(const char* s) : text(s) {}
    template <std::unsigned_integral T>
    Arg(T n) : text(std::to_string(static_cast<std::uint64_t>(n))) {}

    std::string text;
};

// Expands a message template: each "{}" takes the next argument as it is, each "{:?}" takes it
// in its quoted form. Templates hold no other braces.
std::string expand(std::string_view pattern, std::initializer_list<Arg> args) {
    std::string out;
    out.reserve(pattern.size() + 32);
    const Arg* next = args.begin();
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern.substr(i, 2) == "{}" && next != args.end()) {
            out += next->text;
            ++next;
            i += 2;
        } else if (pattern.substr(i, 4) == "{:?}" && next != args.end()) {
            append_quoted(out, next->text);
            ++next;
            i += 4;
        } else {
            out.push_back(pattern[i]);
            ++i;
        }
    }
    return out;
}

std::string under(const std::optional<std::string>& parent) {
    return parent ? quoted(*parent) : std::string("the root");
}

// The debug form: `Name { field: value, ... }`, or `Name` alone without fields.
class Debug {
  public:
    explicit Debug(std::string_view name) : out_(name) {}

    template <typename T>
    Debug& field(std::string_view name, const T& value) {
        out_ += any_ ? ", " : " { ";
        any_ = true;
        out_ += name;
        out_ += ": ";
        write(value);
        return *this;
    }

    std::string finish() {
        if (any_) {
            out_ += " }";
        }
        return std::move(out_);
    }

  private:
    void write(const std::string& s) { append_quoted(out_, s); }
    template <std::unsigned_integral T>
    void write(T n) {
        out_ += std::to_string(static_cast<std::uint64_t>(n));
    }
    void write(const ReaderError& e) { append_quoted(out_, e.message); }
    void write(const ElementDefError& e) { out_ += e.debug(); }
    void write(const ControlError& e) { out_ += e.debug(); }
    void write(const TableDefError& e) { out_ += e.debug(); }
    void write(const VersionError& e) { out_ += e.debug(); }
    void write(const std::shared_ptr<const SpecError>& e) {
        out_ += e ? e->debug() : std::string("null");
    }
    template <typename T>
    void write(const std::optional<T>& v) {
        if (!v) {
            out_ += "None";
            return;
        }
        out_ += "Some(";
        write(*v);
        out_ += ")";
    }
    template <typename A, typename B>
    void write(const std::pair<A, B>& p) {
        out_ += "(";
        write(p.first);
        out_ += ", ";
        write(p.second);
        out_ += ")";
    }
    template <typename T>
    void write(const std::vector<T>& items) {
        out_ += "[";
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i > 0) {
                out_ += ", ";
            }
            write(items[i]);
        }
        out_ += "]";
    }

    std::string out_;
    bool any_ = false;
};

}  // namespace

std::string ElementDefError::to_string() const {
    using E = ElementDefError;
    return std::visit(
        overloaded{
            [](const E::NonCanonicalPosition&) {
                return std::string("positions are 1-based integers written in canonical form");
            },
            [](const E::EmptyName&) { return std::string("\"name\" is empty"); },
            [](const E::DuplicateName& e) {
                return expand("name {:?} is already used by position {:?}", {e.name, e.first});
            },
            [](const E::UnknownType& e) {
                return expand("type {:?} is not one of AN, ID, N0 to N9, R, DT, TM", {e.found});
            },
            [](const E::ScaleWithoutR& e) {
                return expand("\"scale\" applies only to type R; found type {:?}", {e.found});
            },
            [](const E::MinAboveMax& e) {
                return expand("\"min\" {} is greater than \"max\" {}", {e.min, e.max});
            },
            [](const E::CompositeOnNonAn& e) {
                return expand("\"composite\" requires type AN; found type {:?}", {e.found});
            },
            [](const E::NestedComposite&) {
                return std::string("a component cannot declare its own \"composite\"");
            },
            [](const E::ScaleAboveMaximum& e) {
                return expand("\"scale\" {} is above the maximum of {}", {e.scale, 18u});
            },
            [](const E::ZeroMax&) {
                return std::string("\"max\" is 0; an element holds at least one character");
            },
            [](const E::EmptyCodes&) {
                return std::string("\"codes\" is empty; leave the key out to accept any value");
            },
            [](const E::EmptyCode& e) {
                return expand("the code at codes[{}] is empty", {e.index});
            },
            [](const E::CodeLength& e) {
                std::string out =
                    expand("code {:?} at codes[{}] has length {}; the element allows ",
                           {e.code, e.index, e.length});
                if (e.min && e.max) {
                    out += expand("{} to {}", {*e.min, *e.max});
                } else if (e.min) {
                    out += expand("at least {}", {*e.min});
                } else if (e.max) {
                    out += expand("at most {}", {*e.max});
                }
                return out;
            },
            [](const E::DuplicateCode& e) {
                return expand("code {:?} is listed twice, at codes[{}] and codes[{}]",
                              {e.code, e.first, e.second});
            },
            [](const E::CodesOnComposite&) {
                return std::string(
                    "\"codes\" applies to a simple element or a component; this element declares "
                    "a \"composite\"");
            },
            [](const E::CodesOnNumeric& e) {
                return expand(
                    "\"codes\" applies to non-numeric types; type {:?} holds numbers, which one "
                    "value can write several ways (1, 01, 1.0)",
                    {e.found});
            },
        },
        kind);
}

std::string ElementDefError::debug() const {
    using E = ElementDefError;
    return std::visit(
        overloaded{
            [](const E::NonCanonicalPosition&) { return Debug("NonCanonicalPosition").finish(); },
            [](const E::EmptyName&) { return Debug("EmptyName").finish(); },
            [](const E::DuplicateName& e) {
                return Debug("DuplicateName")
                    .field("name", e.name)
                    .field("first", e.first)
                    .finish();
            },
            [](const E::UnknownType& e) {
                return Debug("UnknownType").field("found", e.found).finish();
            },
            [](const E::ScaleWithoutR& e) {
                return Debug("ScaleWithoutR").field("found", e.found).finish();
            },
            [](const E::MinAboveMax& e) {
                return Debug("MinAboveMax").field("min", e.min).field("max", e.max).finish();
            },
            [](const E::CompositeOnNonAn& e) {
                return Debug("CompositeOnNonAn").field("found", e.found).finish();
            },
            [](const E::NestedComposite&) { return Debug("NestedComposite").finish(); },
            [](const E::ScaleAboveMaximum& e) {
                return Debug("ScaleAboveMaximum").field("scale", e.scale).finish();
            },
            [](const E::ZeroMax&) { return Debug("ZeroMax").finish(); },
            [](const E::EmptyCodes&) { return Debug("EmptyCodes").finish(); },
            [](const E::EmptyCode& e) {
                return Debug("EmptyCode").field("index", e.index).finish();
            },
            [](const E::CodeLength& e) {
                return Debug("CodeLength")
                    .field("code", e.code)
                    .field("index", e.index)
                    .field("length", e.length)
                    .field("min", e.min)
                    .field("max", e.max)
                    .finish();
            },
            [](const E::DuplicateCode& e) {
                return Debug("DuplicateCode")
                    .field("code", e.code)
                    .field("first", e.first)
                    .field("second", e.second)
                    .finish();
            },
            [](const E::CodesOnComposite&) { return Debug("CodesOnComposite").finish(); },
            [](const E::CodesOnNumeric& e) {
                return Debug("CodesOnNumeric").field("found", e.found).finish();
            },
        },
        kind);
}

std::string ControlError::to_string() const {
    using E = ControlError;
    return std::visit(
        overloaded{
            [](const E::ZeroPosition& e) {
                return expand("{:?} must be a 1-based element position; found 0", {e.key});
            },
            [](const E::UnknownCount& e) {
                return expand("\"count\" must be \"segments\" or \"children\"; found {:?}",
                              {e.found});
            },
            [](const E::NoEnd&) { return std::string("the loop has no \"end\" segment to check"); },
        },
        kind);
}

std::string ControlError::debug() const {
    using E = ControlError;
    return std::visit(overloaded{
                          [](const E::ZeroPosition& e) {
                              return Debug("ZeroPosition").field("key", e.key).finish();
                          },
                          [](const E::UnknownCount& e) {
                              return Debug("UnknownCount").field("found", e.found).finish();
                          },
                          [](const E::NoEnd&) { return Debug("NoEnd").finish(); },
                      },
                      kind);
}

std::string TableDefError::to_string() const {
    using E = TableDefError;
    return std::visit(
        overloaded{
            [](const E::Empty& e) { return expand("the {} is empty", {e.what}); },
            [](const E::NoLoops&) {
                return std::string("\"loops\" is empty; a table anchors in at least one loop");
            },
            [](const E::DuplicateLoop& e) {
                return expand("loop {:?} is listed more than once in \"loops\"", {e.loop});
            },
            [](const E::UnknownLoop& e) { return expand("loop {:?} does not exist", {e.loop}); },
            [](const E::ReservedName& e) {
                return expand("the name {:?} is taken by an automatic column", {e.name});
            },
            [](const E::RefTaken& e) {
                return expand("\"ref\" {:?} is already used by table {:?}", {e.ref, e.table});
            },
            [](const E::RepeatWithoutSegment&) {
                return std::string(
                    "\"repeat\" requires \"segment\": only a segment's elements repeat");
            },
            [](const E::ZeroStep&) { return std::string("\"repeat.step\" is 0"); },
            [](const E::ZeroPosition& e) {
                return expand("{:?} must be a 1-based position; found 0", {e.key});
            },
            [](const E::BadPosition& e) {
                return expand("\"where\" position {:?} is not a 1-based integer in canonical form",
                              {e.position});
            },
            [](const E::OffsetBeyondStep& e) {
                return expand(
                    "\"group_element\" {} is outside a group of {} elements (offsets start at 0)",
                    {e.offset, e.step});
            },
            [](const E::NestedAnchors& e) {
                return expand(
                    "anchor loops {:?} and {:?} nest; a table without \"segment\" anchors in "
                    "loops that do not",
                    {e.outer, e.inner});
            },
            [](const E::SharedAnchor& e) {
                return expand(
                    "loop {:?} already anchors table {:?}; a loop anchors at most one table "
                    "without \"segment\"",
                    {e.loop, e.table});
            },
            [](const E::UnrelatedAnchors& e) {
                return expand(
                    "anchor loops {:?} and {:?} sit under tables that are not one chain: {:?} "
                    "under {}, {:?} under {}",
                    {e.a, e.b, e.a, render_chain(e.chain_a), e.b, render_chain(e.chain_b)});
            },
            [](const E::NotADescendant& e) {
                return expand("loop {:?} is not inside anchor loop {:?}", {e.loop, e.anchor});
            },
            [](const E::SegmentNotHeld& e) {
                return expand(
                    "segment {:?} is neither the trigger nor a segment of loop {:?}, so it is "
                    "never read there",
                    {e.segment, e.loop});
            },
            [](const E::AnchorSegmentOnly& e) {
                return expand(
                    "{:?} ({}) does not apply in a table anchored on segment {:?}: its columns "
                    "read that segment",
                    {e.key, e.value, e.segment});
            },
            [](const E::NeedsSegment&) {
                return std::string("the column names no \"segment\" to read");
            },
            [](const E::GroupWithoutRepeat&) {
                return std::string("\"group_element\" requires the table's \"repeat\"");
            },
            [](const E::SourceCount& e) {
                return expand(
                    "a column takes exactly one of \"element\", \"group_element\" or "
                    "\"segment_index\"; found {}",
                    {e.found});
            },
            [](const E::ComponentOnIndex&) {
                return std::string("\"component\" does not apply to \"segment_index\"");
            },
        },
        kind);
}

std::string TableDefError::debug() const {
    using E = TableDefError;
    return std::visit(
        overloaded{
            [](const E::Empty& e) { return Debug("Empty").field("what", e.what).finish(); },
            [](const E::NoLoops&) { return Debug("NoLoops").finish(); },
            [](const E::DuplicateLoop& e) {
                return Debug("DuplicateLoop").field("loop", e.loop).finish();
            },
            [](const E::UnknownLoop& e) {
                return Debug("UnknownLoop").field("loop", e.loop).finish();
            },
            [](const E::ReservedName& e) {
                return Debug("ReservedName").field("name", e.name).finish();
            },
            [](const E::RefTaken& e) {
                return Debug("RefTaken").field("ref", e.ref).field("table", e.table).finish();
            },
            [](const E::RepeatWithoutSegment&) { return Debug("RepeatWithoutSegment").finish(); },
            [](const E::ZeroStep&) { return Debug("ZeroStep").finish(); },
            [](const E::ZeroPosition& e) {
                return Debug("ZeroPosition").field("key", e.key).finish();
            },
            [](const E::BadPosition& e) {
                return Debug("BadPosition").field("position", e.position).finish();
            },
            [](const E::OffsetBeyondStep& e) {
                return Debug("OffsetBeyondStep")
                    .field("offset", e.offset)
                    .field("step", e.step)
                    .finish();
            },
            [](const E::NestedAnchors& e) {
                return Debug("NestedAnchors")
                    .field("outer", e.outer)
                    .field("inner", e.inner)
                    .finish();
            },
            [](const E::SharedAnchor& e) {
                return Debug("SharedAnchor").field("loop", e.loop).field("table", e.table).finish();
            },
            [](const E::UnrelatedAnchors& e) {
                return Debug("UnrelatedAnchors")
                    .field("a", e.a)
                    .field("chain_a", e.chain_a)
                    .field("b", e.b)
                    .field("chain_b", e.chain_b)
                    .finish();
            },
            [](const E::NotADescendant& e) {
                return Debug("NotADescendant")
                    .field("loop", e.loop)
                    .field("anchor", e.anchor)
                    .finish();
            },
            [](const E::SegmentNotHeld& e) {
                return Debug("SegmentNotHeld")
                    .field("segment", e.segment)
                    .field("loop", e.loop)
                    .finish();
            },
            [](const E::AnchorSegmentOnly& e) {
                return Debug("AnchorSegmentOnly")
                    .field("key", e.key)
                    .field("value", e.value)
                    .field("segment", e.segment)
                    .finish();
            },
            [](const E::NeedsSegment&) { return Debug("NeedsSegment").finish(); },
            [](const E::GroupWithoutRepeat&) { return Debug("GroupWithoutRepeat").finish(); },
            [](const E::SourceCount& e) {
                return Debug("SourceCount").field("found", e.found).finish();
            },
            [](const E::ComponentOnIndex&) { return Debug("ComponentOnIndex").finish(); },
        },
        kind);
}

std::string VersionError::to_string() const {
    using E = VersionError;
    return std::visit(
        overloaded{
            [](const E::ZeroElement&) {
                return std::string("\"element\" is 0; positions are 1-based");
            },
            [](const E::NoValues&) {
                return std::string(
                    "\"values\" is empty; list at least one value the element may hold");
            },
            [](const E::EmptyValue& e) { return expand("\"values[{}]\" is empty", {e.index}); },
            [](const E::DuplicateValue& e) {
                return expand("value {:?} is listed twice, at values[{}] and values[{}]",
                              {e.value, e.first, e.second});
            },
        },
        kind);
}

std::string VersionError::debug() const {
    using E = VersionError;
    return std::visit(overloaded{
                          [](const E::ZeroElement&) { return Debug("ZeroElement").finish(); },
                          [](const E::NoValues&) { return Debug("NoValues").finish(); },
                          [](const E::EmptyValue& e) {
                              return Debug("EmptyValue").field("index", e.index).finish();
                          },
                          [](const E::DuplicateValue& e) {
                              return Debug("DuplicateValue")
                                  .field("value", e.value)
                                  .field("first", e.first)
                                  .field("second", e.second)
                                  .finish();
                          },
                      },
                      kind);
}

std::string SpecError::to_string() const {
    using E = SpecError;
    return std::visit(
        overloaded{
            [](const E::Json& e) { return expand("invalid spec JSON: {}", {e.message}); },
            [](const E::Schema& e) {
                return e.loop_name
                           ? expand("loop {:?} does not match the schema: {}",
                                    {*e.loop_name, e.source.message})
                           : expand("spec does not match the schema: {}", {e.source.message});
            },
            [](const E::Patch& e) {
                return "applying patch: " + (e.source ? e.source->to_string() : std::string());
            },
            [](const E::UnknownParent& e) {
                return expand("loop {:?} names unknown parent {:?}", {e.loop_name, e.parent});
            },
            [](const E::Cycle& e) {
                std::string out = "loops form a parent cycle: ";
                for (const std::string& member : e.members) {
                    out += member;
                    out += " -> ";
                }
                if (!e.members.empty()) {
                    out += e.members.front();
                }
                return out;
            },
            [](const E::NoLoops& e) {
                return expand("spec {:?} declares no loops", {e.spec_name});
            },
            [](const E::EmptySegmentId& e) {
                return e.loop_name ? expand("loop {:?} has an empty segment id at {}",
                                            {*e.loop_name, e.key})
                                   : expand("the spec has an empty segment id at {}", {e.key});
            },
            [](const E::EndIsTrigger& e) {
                return expand(
                    "loop {:?} has \"end\" {:?}, the same segment as its \"trigger\": the loop "
                    "would close on the segment that opens it",
                    {e.loop_name, e.segment});
            },
            [](const E::BadPosition& e) {
                return expand(
                    "loop {:?} has an invalid \"where\" position {:?}: positions are 1-based "
                    "integers written in canonical form",
                    {e.loop_name, e.position});
            },
            [](const E::NotAnObject& e) {
                return e.path.empty()
                           ? expand("the spec must be a JSON object; found {}", {e.found})
                           : expand("spec: the value at {} must be a JSON object; found {}",
                                    {e.path, e.found});
            },
            [](const E::WrongType& e) {
                return e.value.empty() ? expand("spec: the value at {} must be {}; found {}",
                                                {e.path, e.expected, e.found})
                                       : expand("spec: the value at {} must be {}; found {} ({})",
                                                {e.path, e.expected, e.found, e.value});
            },
            [](const E::UnknownKey& e) {
                return e.path.empty() ? expand("spec: unknown key {:?} at the top level", {e.key})
                                      : expand("spec: unknown key {:?} at {}", {e.key, e.path});
            },
            [](const E::MissingKey& e) {
                return e.path.empty()
                           ? expand("spec: missing required key {:?} at the top level", {e.key})
                           : expand("spec: missing required key {:?} at {}", {e.key, e.path});
            },
            [](const E::SegmentSchema& e) {
                return expand("segment {:?} does not match the schema: {}",
                              {e.segment, e.source.message});
            },
            [](const E::BadElementDef& e) {
                return expand("segment {:?} element {:?}: {}",
                              {e.segment, e.position, e.reason.to_string()});
            },
            [](const E::TableSchema& e) {
                return e.column ? expand("table {:?} column {:?} does not match the schema: {}",
                                         {e.table, *e.column, e.source.message})
                                : expand("table {:?} does not match the schema: {}",
                                         {e.table, e.source.message});
            },
            [](const E::BadTable& e) {
                return e.column ? expand("table {:?} column {:?}: {}",
                                         {e.table, *e.column, e.reason.to_string()})
                                : expand("table {:?}: {}", {e.table, e.reason.to_string()});
            },
            [](const E::BadVersion& e) {
                return expand("the spec's \"version\" is invalid: {}", {e.reason.to_string()});
            },
            [](const E::BadControl& e) {
                return expand("loop {:?} has an invalid \"control\": {}",
                              {e.loop_name, e.reason.to_string()});
            },
            [](const E::AmbiguousTrigger& e) {
                std::string out =
                    expand("loops {:?} and {:?} under {}", {e.first, e.second, under(e.parent)});
                out += expand(" share the identical trigger {:?}", {e.segment});
                if (!e.conditions.empty()) {
                    out += " where {";
                    for (std::size_t i = 0; i < e.conditions.size(); ++i) {
                        if (i > 0) {
                            out += ", ";
                        }
                        out += expand("{}: {:?}", {e.conditions[i].first, e.conditions[i].second});
                    }
                    out += "}";
                }
                return out;
            },
            [](const E::OverlappingTriggers& e) {
                return expand(
                    "loops {:?} and {:?} under {} can open on the same segment: {:?} on {}, {:?} "
                    "on {}, no position they both test requires different values, and neither "
                    "trigger is more specific than the other",
                    {e.a, e.b, under(e.parent), e.a, e.conditions_a, e.b, e.conditions_b});
            },
        },
        kind);
}

std::string SpecError::debug() const {
    using E = SpecError;
    return std::visit(
        overloaded{
            [](const E::Json& e) { return "Json(" + quoted(e.message) + ")"; },
            [](const E::Schema& e) {
                return Debug("Schema")
                    .field("loop_name", e.loop_name)
                    .field("source", e.source)
                    .finish();
            },
            [](const E::Patch& e) { return Debug("Patch").field("source", e.source).finish(); },
            [](const E::UnknownParent& e) {
                return Debug("UnknownParent")
                    .field("loop_name", e.loop_name)
                    .field("parent", e.parent)
                    .finish();
            },
            [](const E::Cycle& e) { return Debug("Cycle").field("members", e.members).finish(); },
            [](const E::NoLoops& e) {
                return Debug("NoLoops").field("spec_name", e.spec_name).finish();
            },
            [](const E::EmptySegmentId& e) {
                return Debug("EmptySegmentId")
                    .field("loop_name", e.loop_name)
                    .field("key", e.key)
                    .finish();
            },
            [](const E::EndIsTrigger& e) {
                return Debug("EndIsTrigger")
                    .field("loop_name", e.loop_name)
                    .field("segment", e.segment)
                    .finish();
            },
            [](const E::BadPosition& e) {
                return Debug("BadPosition")
                    .field("loop_name", e.loop_name)
                    .field("position", e.position)
                    .finish();
            },
            [](const E::NotAnObject& e) {
                return Debug("NotAnObject").field("path", e.path).field("found", e.found).finish();
            },
            [](const E::WrongType& e) {
                return Debug("WrongType")
                    .field("path", e.path)
                    .field("expected", e.expected)
                    .field("found", e.found)
                    .field("value", e.value)
                    .finish();
            },
            [](const E::UnknownKey& e) {
                return Debug("UnknownKey").field("path", e.path).field("key", e.key).finish();
            },
            [](const E::MissingKey& e) {
                return Debug("MissingKey").field("path", e.path).field("key", e.key).finish();
            },
            [](const E::SegmentSchema& e) {
                return Debug("SegmentSchema")
                    .field("segment", e.segment)
                    .field("source", e.source)
                    .finish();
            },
            [](const E::BadElementDef& e) {
                return Debug("BadElementDef")
                    .field("segment", e.segment)
                    .field("position", e.position)
                    .field("reason", e.reason)
                    .finish();
            },
            [](const E::TableSchema& e) {
                return Debug("TableSchema")
                    .field("table", e.table)
                    .field("column", e.column)
                    .field("source", e.source)
                    .finish();
            },
            [](const E::BadTable& e) {
                return Debug("BadTable")
                    .field("table", e.table)
                    .field("column", e.column)
                    .field("reason", e.reason)
                    .finish();
            },
            [](const E::BadVersion& e) {
                return Debug("BadVersion").field("reason", e.reason).finish();
            },
            [](const E::BadControl& e) {
                return Debug("BadControl")
                    .field("loop_name", e.loop_name)
                    .field("reason", e.reason)
                    .finish();
            },
            [](const E::AmbiguousTrigger& e) {
                return Debug("AmbiguousTrigger")
                    .field("first", e.first)
                    .field("second", e.second)
                    .field("parent", e.parent)
                    .field("segment", e.segment)
                    .field("conditions", e.conditions)
                    .finish();
            },
            [](const E::OverlappingTriggers& e) {
                return Debug("OverlappingTriggers")
                    .field("parent", e.parent)
                    .field("a", e.a)
                    .field("b", e.b)
                    .field("conditions_a", e.conditions_a)
                    .field("conditions_b", e.conditions_b)
                    .finish();
            },
        },
        kind);
}

}  // namespace remitrax
