// The stub records of Result and parse.
#include "docs.hpp"
#include "stub_registry.hpp"

namespace remitrax::binding::stubs {
namespace {

const Registration result{Class{"remitrax._core", "Result", docs::result, {}, 6}};

constexpr Member result_members[] = {
    Property{"document", "Document", docs::result_document},
    Property{"tables", "Tables", docs::result_tables},
    Property{"diagnostics", "builtins.list[Diagnostic]", docs::result_diagnostics},
};
const Registration result_record{Members{"Result", result_members, 0}};

// The helpers that read the tables by their fixed names.
constexpr const char* organization = "builtins.dict[builtins.str, builtins.str | None] | None";
constexpr Member result_helpers[] = {
    Property{"payer", organization, docs::result_payer},
    Property{"payee", organization, docs::result_payee},
    Method{"count_claims", {}, "builtins.int", docs::result_count_claims},
    Method{"count_patients", {}, "builtins.int", docs::result_count_patients},
    Method{"sum_payments", {}, "decimal.Decimal", docs::result_sum_payments},
    Method{"__repr__", {}, "builtins.str"},
};
const Registration result_helpers_record{Members{"Result", result_helpers, 1}};

constexpr Parameter parse_parameters[] = {
    {"data", "typing_extensions.Buffer"},
    {"spec", "Spec | None", "None"},
    {"delimiters", "Delimiters | None", "None"},
};
const Registration parse{
    Function{"remitrax._core", "parse", parse_parameters, "Result", docs::parse, 13}};

}  // namespace
}  // namespace remitrax::binding::stubs
