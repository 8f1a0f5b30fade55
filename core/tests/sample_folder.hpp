// The public 835 sample files live outside the repository, in ../shared/samples/835 beside the
// checkout; the build passes that path as REMITRAX_SAMPLES_DIR. Without them a test that reads
// them has checked nothing, so it fails, naming the folder, rather than passing as skipped.
#pragma once

#include <filesystem>
#include <stdexcept>

namespace remitrax::testing {

// The sample folder. Throws when it is not there: GoogleTest reports an exception escaping a
// test body as that test's failure, with the message, wherever in the test the call is made.
inline std::filesystem::path sample_folder() {
    const std::filesystem::path folder = REMITRAX_SAMPLES_DIR;
    if (!std::filesystem::is_directory(folder)) {
        throw std::runtime_error("the public 835 sample folder " +
                                 folder.lexically_normal().string() +
                                 " is missing; tests that read the sample files need it there "
                                 "(../shared/samples/835 beside the checkout)");
    }
    return folder;
}

}  // namespace remitrax::testing
