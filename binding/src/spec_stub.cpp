// The stub records of Spec.
#include "docs.hpp"
#include "stub_registry.hpp"

namespace remitrax::binding::stubs {
namespace {

const Registration spec{Class{"remitrax._core", "Spec", nullptr, {}, 7}};

constexpr Parameter builtin_parameters[] = {{"version", "builtins.str", "\"5010\""}};
constexpr Parameter from_json_parameters[] = {{"json", "builtins.str"}};
constexpr Parameter patch_parameters[] = {
    {"patch", "builtins.str | builtins.dict[builtins.str, typing.Any]"}};
constexpr Member spec_members[] = {
    Method{"builtin", builtin_parameters, "Spec", docs::spec_builtin, MethodKind::Static},
    Method{"from_json", from_json_parameters, "Spec", docs::spec_from_json, MethodKind::Static},
    Method{"patch", patch_parameters, "Spec", docs::spec_patch},
    Method{"to_json", {}, "builtins.str", docs::spec_to_json},
    Method{"loops", {}, "builtins.list[builtins.str]", docs::spec_loops},
    Method{"__repr__", {}, "builtins.str"},
};
const Registration spec_record{Members{"Spec", spec_members, 0}};

}  // namespace
}  // namespace remitrax::binding::stubs
