// The global allocation functions, replaced to count calls. A test executable that links
// counting_new.cpp counts every allocation made in it, so it holds no other tests.
#pragma once

#include <cstddef>

namespace remitrax::testing {

// The allocations made since the program started.
std::size_t allocation_count();

}  // namespace remitrax::testing
