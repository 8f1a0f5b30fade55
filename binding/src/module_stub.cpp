// The stub records of the module's exceptions and constant.
#include "docs.hpp"
#include "stub_registry.hpp"

namespace remitrax::binding::stubs {
namespace {

constexpr const char* value_error[] = {"builtins.ValueError"};

// Exceptions may be subclassed.
const Registration parse_error{
    Class{"remitrax._core", "ParseError", docs::parse_error, value_error, 0, false}};
const Registration spec_error{
    Class{"remitrax._core", "SpecError", docs::spec_error, value_error, 1, false}};
const Registration tabulon_patch{Variable{"remitrax._core", "TABULON_PATCH", "builtins.str", 15}};

}  // namespace
}  // namespace remitrax::binding::stubs
