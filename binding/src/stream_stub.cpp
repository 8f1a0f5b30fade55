// The stub records of Stream, Batch and stream.
#include "docs.hpp"
#include "stub_registry.hpp"

namespace remitrax::binding::stubs {
namespace {

const Registration stream_class{Class{"remitrax._core", "Stream", docs::stream_class, {}, 9}};

constexpr Member stream_members[] = {
    Method{"__iter__", {}, "Stream"},
    Method{"__next__", {}, "Batch"},
};
const Registration stream_record{Members{"Stream", stream_members, 0}};

const Registration batch{Class{"remitrax._core", "Batch", docs::batch, {}, 8}};

constexpr Member batch_members[] = {
    Property{"tables", "Tables", docs::batch_tables},
    Property{"diagnostics", "builtins.list[Diagnostic]", docs::batch_diagnostics},
    Method{"__repr__", {}, "builtins.str"},
};
const Registration batch_record{Members{"Batch", batch_members, 0}};

constexpr Parameter stream_parameters[] = {
    {"data", "typing_extensions.Buffer"},
    {"spec", "Spec | None", "None"},
    {"by", "builtins.str", "\"transaction\""},
    {"delimiters", "Delimiters | None", "None"},
};
const Registration stream{
    Function{"remitrax._core", "stream", stream_parameters, "Stream", docs::stream, 14}};

}  // namespace
}  // namespace remitrax::binding::stubs
