// The built-in specs compiled from the JSON texts the library carries.
#include "spec/builtin.hpp"

#include "base/fault.hpp"
#include "spec/spec.hpp"

namespace remitrax {

std::shared_ptr<const Spec> Spec::builtin_835() {
    auto spec = from_json(builtin::spec_835());
    if (!spec) {
        throw InternalFault("the built-in 835 spec is valid: " + spec.error().debug());
    }
    return std::move(*spec);
}

std::shared_ptr<const Spec> Spec::builtin_835_4010() {
    auto spec = builtin_835()->merge_patch(builtin::patch_4010());
    if (!spec) {
        throw InternalFault(
            "the built-in 4010 patch is valid and merges into the built-in 835 as a valid spec: " +
            spec.error().debug());
    }
    return std::move(*spec);
}

}  // namespace remitrax
