// The errors of loading, checking, compiling and patching a spec. Each error's text form is
// the message a user sees; nested errors appear inside their wrapper's text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace remitrax {

// Why one element or component definition was refused.
struct ElementDefError {
    struct NonCanonicalPosition {};
    struct EmptyName {};
    struct DuplicateName {
        std::string name;
        std::string first;  // position key of the earlier element with that name
    };
    struct UnknownType {
        std::string found;
    };
    struct ScaleWithoutR {
        std::string found;
    };
    struct MinAboveMax {
        std::uint64_t min = 0;
        std::uint64_t max = 0;
    };
    struct CompositeOnNonAn {
        std::string found;
    };
    struct NestedComposite {};
    struct ScaleAboveMaximum {
        std::uint8_t scale = 0;
    };
    struct ZeroMax {};
    struct EmptyCodes {};
    struct EmptyCode {
        std::size_t index = 0;
    };
    struct CodeLength {
        std::string code;
        std::size_t index = 0;
        std::size_t length = 0;
        std::optional<std::uint64_t> min;
        std::optional<std::uint64_t> max;
    };
    struct DuplicateCode {
        std::string code;
        std::size_t first = 0;
        std::size_t second = 0;
    };
    struct CodesOnComposite {};
    struct CodesOnNumeric {
        std::string found;
    };

    std::variant<NonCanonicalPosition, EmptyName, DuplicateName, UnknownType, ScaleWithoutR,
                 MinAboveMax, CompositeOnNonAn, NestedComposite, ScaleAboveMaximum, ZeroMax,
                 EmptyCodes, EmptyCode, CodeLength, DuplicateCode, CodesOnComposite, CodesOnNumeric>
        kind;

    std::string to_string() const;
};

// Why a loop's "control" object was refused.
struct ControlError {
    struct ZeroPosition {
        std::string key;  // "opener_element", "closer_element" or "count_element"
    };
    struct UnknownCount {
        std::string found;
    };
    struct NoEnd {};

    std::variant<ZeroPosition, UnknownCount, NoEnd> kind;

    std::string to_string() const;
};

// Why one table or column definition was refused.
struct TableDefError {
    struct Empty {
        std::string what;  // "table name", "column name" or "ref"
    };
    struct NoLoops {};
    struct DuplicateLoop {
        std::string loop;
    };
    struct UnknownLoop {
        std::string loop;
    };
    struct ReservedName {
        std::string name;
    };
    struct RefTaken {
        std::string ref;
        std::string table;
    };
    struct RepeatWithoutSegment {};
    struct ZeroStep {};
    struct ZeroPosition {
        std::string key;  // "element", "component" or "repeat.from"
    };
    struct BadPosition {
        std::string position;
    };
    struct OffsetBeyondStep {
        std::uint64_t offset = 0;
        std::uint64_t step = 0;
    };
    struct NestedAnchors {
        std::string outer;
        std::string inner;
    };
    struct SharedAnchor {
        std::string loop;
        std::string table;
    };
    // Two anchor loops and the table chains they sit under, outermost table first.
    struct UnrelatedAnchors {
        std::string a;
        std::vector<std::string> chain_a;
        std::string b;
        std::vector<std::string> chain_b;
    };
    struct NotADescendant {
        std::string loop;
        std::string anchor;
    };
    struct SegmentNotHeld {
        std::string segment;  // lossy UTF-8 of the id
        std::string loop;
    };
    struct AnchorSegmentOnly {
        std::string key;    // "segment", "loop" or "where"
        std::string value;  // compact JSON
        std::string segment;
    };
    struct NeedsSegment {};
    struct GroupWithoutRepeat {};
    struct SourceCount {
        std::size_t found = 0;
    };
    struct ComponentOnIndex {};

    std::variant<Empty, NoLoops, DuplicateLoop, UnknownLoop, ReservedName, RefTaken,
                 RepeatWithoutSegment, ZeroStep, ZeroPosition, BadPosition, OffsetBeyondStep,
                 NestedAnchors, SharedAnchor, UnrelatedAnchors, NotADescendant, SegmentNotHeld,
                 AnchorSegmentOnly, NeedsSegment, GroupWithoutRepeat, SourceCount, ComponentOnIndex>
        kind;

    std::string to_string() const;
};

// Why the spec's "version" object was refused.
struct VersionError {
    struct ZeroElement {};
    struct NoValues {};
    struct EmptyValue {
        std::size_t index = 0;
    };
    struct DuplicateValue {
        std::string value;
        std::size_t first = 0;
        std::size_t second = 0;
    };

    std::variant<ZeroElement, NoValues, EmptyValue, DuplicateValue> kind;

    std::string to_string() const;
};

// The message of the typed record reader ("missing field `name`", ...).
struct ReaderError {
    std::string message;
};

// The error of loading or patching a spec. Variants are in their fixed order.
struct SpecError {
    struct Json {
        std::string message;  // the JSON reader's message, naming line and column
    };
    struct Schema {
        std::optional<std::string> loop_name;
        ReaderError source;
    };
    struct Patch {
        // The complete error of the merged document; shared so that SpecError stays a
        // copyable value.
        std::shared_ptr<const SpecError> source;
    };
    struct UnknownParent {
        std::string loop_name;
        std::string parent;
    };
    struct Cycle {
        std::vector<std::string> members;
    };
    struct NoLoops {
        std::string spec_name;
    };
    struct EmptySegmentId {
        std::optional<std::string> loop_name;
        std::string key;  // where the empty id stands, e.g. "segments[2]"
    };
    struct EndIsTrigger {
        std::string loop_name;
        std::string segment;
    };
    struct BadPosition {
        std::string loop_name;
        std::string position;
    };
    struct NotAnObject {
        std::string path;  // empty for the top level
        std::string found;
    };
    struct WrongType {
        std::string path;
        std::string expected;
        std::string found;
        std::string value;  // may be empty
    };
    struct UnknownKey {
        std::string path;
        std::string key;
    };
    struct MissingKey {
        std::string path;
        std::string key;
    };
    struct SegmentSchema {
        std::string segment;
        ReaderError source;
    };
    struct BadElementDef {
        std::string segment;
        std::string position;  // the element key as written, or "1.composite.2"
        ElementDefError reason;
    };
    struct TableSchema {
        std::string table;
        std::optional<std::string> column;
        ReaderError source;
    };
    struct BadTable {
        std::string table;
        std::optional<std::string> column;
        TableDefError reason;
    };
    struct BadVersion {
        VersionError reason;
    };
    struct BadControl {
        std::string loop_name;
        ControlError reason;
    };
    struct AmbiguousTrigger {
        std::string first;
        std::string second;
        std::optional<std::string> parent;
        std::string segment;
        std::vector<std::pair<std::uint64_t, std::string>> conditions;
    };
    struct OverlappingTriggers {
        std::optional<std::string> parent;
        std::string a;
        std::string b;
        std::string conditions_a;  // the rendered triggers
        std::string conditions_b;
    };

    std::variant<Json, Schema, Patch, UnknownParent, Cycle, NoLoops, EmptySegmentId, EndIsTrigger,
                 BadPosition, NotAnObject, WrongType, UnknownKey, MissingKey, SegmentSchema,
                 BadElementDef, TableSchema, BadTable, BadVersion, BadControl, AmbiguousTrigger,
                 OverlappingTriggers>
        kind;

    // The user message.
    std::string to_string() const;
    // The variant name and its named fields in declared order; shown only inside the
    // internal fault of a built-in spec that fails to load.
    std::string debug() const;
};

}  // namespace remitrax
