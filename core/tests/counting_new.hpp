// The global allocation functions, replaced to count calls. A program that links
// counting_new.cpp (an allocation test, or the x12 benchmark) counts every allocation made in
// it, so a test executable that links it holds no other tests.
#pragma once

#include <cstddef>

namespace remitrax::testing {

// The allocations made since the program started.
std::size_t allocation_count();

}  // namespace remitrax::testing
