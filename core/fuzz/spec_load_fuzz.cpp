// Any text loaded as a spec: it loads or gives a SpecError with a message, and what loads
// writes a text that loads back to the same spec.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz.hpp"
#include "spec_round_trip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace remitrax;
    const auto spec = Spec::from_json(fuzz::as_text(data, size));
    if (!spec) {
        fuzz::check(!spec.error().to_string().empty(), "a refused spec says why");
        return 0;
    }
    fuzz::check_round_trip(**spec);
    return 0;
}
