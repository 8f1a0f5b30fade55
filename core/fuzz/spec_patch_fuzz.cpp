// Any text as a merge patch of the built-in spec: the patch applies or gives a SpecError with
// a message; a patched spec writes a text that loads back to the same spec, and the built-in
// spec itself is left as it was.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz.hpp"
#include "spec_round_trip.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace remitrax;
    static const std::string builtin_text = fuzz::builtin_5010()->to_json();
    const auto patched = fuzz::builtin_5010()->merge_patch(fuzz::as_text(data, size));
    fuzz::check(fuzz::builtin_5010()->to_json() == builtin_text,
                "patching leaves the patched spec unchanged");
    if (!patched) {
        fuzz::check(!patched.error().to_string().empty(), "a refused patch says why");
        return 0;
    }
    fuzz::check_round_trip(**patched);
    return 0;
}
