// The stub records of Diagnostic and _external_diagnostic.
#include "docs.hpp"
#include "stub_registry.hpp"

namespace remitrax::binding::stubs {
namespace {

constexpr const char* int_or_none = "builtins.int | None";

const Registration diagnostic{Class{"remitrax._core", "Diagnostic", docs::diagnostic, {}, 2}};

constexpr Member diagnostic_members[] = {
    Property{"level", "builtins.int", docs::diagnostic_level},
    Property{"origin", "builtins.str", docs::diagnostic_origin},
    Property{"code", "builtins.str | None", docs::diagnostic_code},
    Property{"kind", "builtins.str", docs::diagnostic_kind},
    Property{"rule", "builtins.str", docs::diagnostic_rule},
    Property{"segment", int_or_none, docs::diagnostic_segment},
    Property{"element", int_or_none, docs::diagnostic_element},
    Property{"component", int_or_none, docs::diagnostic_component},
    Property{"path", "builtins.str", docs::diagnostic_path},
    Property{"datum", "builtins.bytes", docs::diagnostic_datum},
    Method{"__str__", {}, "builtins.str"},
    Method{"__repr__", {}, "builtins.str"},
};
const Registration diagnostic_record{Members{"Diagnostic", diagnostic_members, 0}};

constexpr Parameter external_parameters[] = {
    {"origin", "builtins.str"},         {"message", "builtins.str"},
    {"level", "builtins.int"},          {"code", "builtins.str | None", "None"},
    {"segment", int_or_none, "None"},   {"element", int_or_none, "None"},
    {"component", int_or_none, "None"}, {"datum", "builtins.bytes", "b\"\""},
};
const Registration external_diagnostic{Function{"remitrax._core", "_external_diagnostic",
                                                external_parameters, "Diagnostic",
                                                docs::external_diagnostic_stub, 12}};
const Registration external_export{Export{"remitrax._core", "_external_diagnostic"}};

}  // namespace
}  // namespace remitrax::binding::stubs
