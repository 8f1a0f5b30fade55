// The registry that the stub records of the module's classes and functions join at start-up.
#include "stub_registry.hpp"

#include <utility>

namespace remitrax::binding::stubs {

namespace {

// Made on first use, so that registrations in any translation unit find it ready.
std::vector<Record>& list() {
    static std::vector<Record> registered;
    return registered;
}

}  // namespace

const std::vector<Record>& records() {
    return list();
}

Registration::Registration(Record record) {
    list().push_back(std::move(record));
}

}  // namespace remitrax::binding::stubs
