// The text forms of spec errors: each message from its template, and the debug form.
#include "spec/error.hpp"

#include <algorithm>
#include <array>
#include <concepts>
#include <initializer_list>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>

#include "base/text.hpp"
#include "base/variant.hpp"
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

// ---- The debug form: the variant's name, then ` { field: value, ... }` when it has fields.

// Each error's variants in declared order, separated by "|": the variant's name, then the
// names of its fields in declared order. A variant whose field count is not its own does not
// compile (see fields_of).
template <class Error>
constexpr std::string_view kLines = {};

template <>
constexpr std::string_view kLines<ElementDefError> =
    "NonCanonicalPosition|EmptyName|DuplicateName name first|UnknownType found|"
    "ScaleWithoutR found|MinAboveMax min max|CompositeOnNonAn found|NestedComposite|"
    "ScaleAboveMaximum scale|ZeroMax|EmptyCodes|EmptyCode index|"
    "CodeLength code index length min max|DuplicateCode code first second|"
    "CodesOnComposite|CodesOnNumeric found";

template <>
constexpr std::string_view kLines<ControlError> = "ZeroPosition key|UnknownCount found|NoEnd";

template <>
constexpr std::string_view kLines<TableDefError> =
    "Empty what|NoLoops|DuplicateLoop loop|UnknownLoop loop|ReservedName name|"
    "RefTaken ref table|RepeatWithoutSegment|ZeroStep|ZeroPosition key|"
    "BadPosition position|OffsetBeyondStep offset step|NestedAnchors outer inner|"
    "SharedAnchor loop table|UnrelatedAnchors a chain_a b chain_b|"
    "NotADescendant loop anchor|SegmentNotHeld segment loop|"
    "AnchorSegmentOnly key value segment|NeedsSegment|GroupWithoutRepeat|"
    "SourceCount found|ComponentOnIndex";

template <>
constexpr std::string_view kLines<VersionError> =
    "ZeroElement|NoValues|EmptyValue index|DuplicateValue value first second";

// Json shows its one field without its name: Json("message").
template <>
constexpr std::string_view kLines<SpecError> =
    "Json message|Schema loop_name source|Patch source|"
    "UnknownParent loop_name parent|Cycle members|NoLoops spec_name|"
    "EmptySegmentId loop_name key|EndIsTrigger loop_name segment|"
    "BadPosition loop_name position|NotAnObject path found|"
    "WrongType path expected found value|UnknownKey path key|MissingKey path key|"
    "SegmentSchema segment source|BadElementDef segment position reason|"
    "TableSchema table column source|BadTable table column reason|BadVersion reason|"
    "BadControl loop_name reason|AmbiguousTrigger first second parent segment conditions|"
    "OverlappingTriggers parent a b conditions_a conditions_b";

// Line `i` of `lines`.
constexpr std::string_view line_at(std::string_view lines, std::size_t i) {
    for (; i > 0; --i) {
        lines.remove_prefix(lines.find('|') + 1);
    }
    return lines.substr(0, lines.find('|'));
}

constexpr std::size_t field_count(std::string_view line) {
    return static_cast<std::size_t>(std::ranges::count(line, ' '));
}

// The word after position `at` of `line`; `at` moves on to the space after it.
std::string_view next_word(std::string_view line, std::size_t& at) {
    const std::size_t start = at + 1;
    at = line.find(' ', start);
    return line.substr(start, at - start);
}

// The fields of a variant as a tuple of references; binding them fails to compile unless the
// variant has exactly N fields.
template <std::size_t N, class T>
auto fields_of(const T& v) {
    if constexpr (N == 0) {
        static_assert(std::is_empty_v<T>, "a variant without fields in its line has none");
        return std::tuple<>();
    } else if constexpr (N == 1) {
        const auto& [a] = v;
        return std::tie(a);
    } else if constexpr (N == 2) {
        const auto& [a, b] = v;
        return std::tie(a, b);
    } else if constexpr (N == 3) {
        const auto& [a, b, c] = v;
        return std::tie(a, b, c);
    } else if constexpr (N == 4) {
        const auto& [a, b, c, d] = v;
        return std::tie(a, b, c, d);
    } else {
        const auto& [a, b, c, d, e] = v;
        return std::tie(a, b, c, d, e);
    }
}

void write(std::string& out, const std::string& text) {
    append_quoted(out, text);
}

void write(std::string& out, std::uint64_t n) {
    out += std::to_string(n);
}

void write(std::string& out, const ReaderError& error) {
    append_quoted(out, error.message);
}

void write(std::string& out, const std::shared_ptr<const SpecError>& error) {
    out += error ? error->debug() : std::string("null");
}

template <class T>
void write(std::string& out, const std::optional<T>& value) {
    if (!value) {
        out += "None";
        return;
    }
    out += "Some(";
    write(out, *value);
    out += ")";
}

template <class A, class B>
void write(std::string& out, const std::pair<A, B>& pair) {
    out += "(";
    write(out, pair.first);
    out += ", ";
    write(out, pair.second);
    out += ")";
}

template <class T>
void write(std::string& out, const std::vector<T>& items) {
    out += "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        write(out, items[i]);
    }
    out += "]";
}

template <class Error>
    requires(!kLines<Error>.empty())
void write(std::string& out, const Error& error) {
    using Kind = decltype(Error::kind);
    static_assert(static_cast<std::size_t>(std::ranges::count(kLines<Error>, '|')) + 1 ==
                  std::variant_size_v<Kind>);
    std::visit(
        [&out](const auto& variant) {
            constexpr std::string_view line =
                line_at(kLines<Error>, index_of<std::decay_t<decltype(variant)>, Kind>);
            constexpr std::size_t count = field_count(line);
            std::size_t at = line.find(' ');
            out += line.substr(0, at);
            bool first = true;
            std::apply(
                [&](const auto&... field) {
                    ((out += std::exchange(first, false) ? " { " : ", ", out += next_word(line, at),
                      out += ": ", write(out, field)),
                     ...);
                },
                fields_of<count>(variant));
            if (count > 0) {
                out += " }";
            }
        },
        error.kind);
}

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
    std::string out;
    if (const auto* json = std::get_if<Json>(&kind)) {
        out = "Json(" + quoted(json->message) + ")";
    } else {
        write(out, *this);
    }
    return out;
}

}  // namespace remitrax
