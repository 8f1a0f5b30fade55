// The JSON texts the library carries, exactly as stored in its source tree.
#pragma once

#include <string_view>

namespace remitrax::builtin {

// The 835 spec for version 005010X221A1, the default spec.
std::string_view spec_835();
// The patch that turns the 835 spec into the spec for the 4010 versions.
std::string_view patch_4010();
// The compatibility patch, handed to Python users as written.
std::string_view tabulon_patch();

}  // namespace remitrax::builtin
