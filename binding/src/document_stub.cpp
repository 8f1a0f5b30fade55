// The stub records of Document, Segment and Delimiters.
#include "docs.hpp"
#include "stub_registry.hpp"

namespace remitrax::binding::stubs {
namespace {

const Registration document{Class{"remitrax._core", "Document", docs::document, {}, 4}};

constexpr Parameter document_index[] = {{"index", "builtins.int"}};
constexpr Member document_members[] = {
    Property{"delimiters", "Delimiters", docs::document_delimiters},
    Method{"__len__", {}, "builtins.int"},
    Method{"write", {}, "builtins.bytes", docs::document_write},
    Method{"__repr__", {}, "builtins.str"},
    Method{"__getitem__", document_index, "Segment", nullptr, MethodKind::Instance, true},
};
const Registration document_record{Members{"Document", document_members, 0}};

const Registration segment{Class{"remitrax._core", "Segment", docs::segment, {}, 5}};

constexpr Member segment_members[] = {
    Property{"index", "builtins.int", docs::segment_index},
    Property{"id", "builtins.bytes", docs::segment_id},
    Property{"elements", "builtins.list[builtins.bytes | builtins.list[builtins.bytes]]",
             docs::segment_elements},
    Property{"raw", "builtins.bytes", docs::segment_raw},
    Property{"span", "builtins.tuple[builtins.int, builtins.int]", docs::segment_span},
    Method{"__repr__", {}, "builtins.str"},
};
const Registration segment_record{Members{"Segment", segment_members, 0}};

const Registration delimiters{Class{"remitrax._core", "Delimiters", docs::delimiters, {}, 3}};

// Delimiters compare by value, so the class has no hash.
constexpr Member delimiters_attributes[] = {
    ClassAttribute{"__hash__", "typing.ClassVar[None]", "type: ignore[assignment]"},
};
const Registration delimiters_attributes_record{Members{"Delimiters", delimiters_attributes, 0}};

constexpr Parameter delimiters_new[] = {
    {"element", "builtins.bytes", "b\"*\""},      {"component", "builtins.bytes", "b\":\""},
    {"segment", "builtins.bytes", "b\"~\""},      {"repetition", "builtins.bytes | None", "None"},
    {"release", "builtins.bytes | None", "None"},
};
constexpr Member delimiters_members[] = {
    Method{"__new__", delimiters_new, "Delimiters", nullptr, MethodKind::Constructor},
    Property{"element", "builtins.bytes", docs::delimiters_element},
    Property{"component", "builtins.bytes", docs::delimiters_component},
    Property{"segment", "builtins.bytes", docs::delimiters_segment},
    Property{"repetition", "builtins.bytes | None", docs::delimiters_repetition},
    Property{"release", "builtins.bytes | None", docs::delimiters_release},
    Method{"__repr__", {}, "builtins.str"},
};
const Registration delimiters_record{Members{"Delimiters", delimiters_members, 1}};

}  // namespace
}  // namespace remitrax::binding::stubs
