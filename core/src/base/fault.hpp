// A broken invariant of the library itself, never a fault of the caller's input. It is
// thrown, and the Python module turns it into its internal-fault exception at the boundary.
#pragma once

#include <stdexcept>

namespace remitrax {

class InternalFault : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

}  // namespace remitrax
