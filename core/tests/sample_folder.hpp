// The public 835 sample files live outside the repository, in ../shared/samples/835 beside the
// checkout; the build passes that path as REMITRAX_SAMPLES_DIR. A clone without them still
// passes its tests: the tests that read the samples skip, naming the folder they looked for.
// With REMITRAX_REQUIRE_SAMPLES=1 in the environment (CI sets it) they fail instead, so a run
// that lost the folder cannot pass having checked nothing.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace remitrax::testing {

inline std::filesystem::path sample_folder_path() {
    return std::filesystem::path(REMITRAX_SAMPLES_DIR).lexically_normal();
}

// Only the value 1 requires the samples; any other value, or none, lets their tests skip.
inline bool samples_required() {
    const char* value = std::getenv("REMITRAX_REQUIRE_SAMPLES");
    return value != nullptr && std::string_view(value) == "1";
}

// Why the sample files cannot be read, or nothing when their folder is there.
inline std::optional<std::string> samples_missing() {
    if (std::filesystem::is_directory(sample_folder_path())) {
        return std::nullopt;
    }
    std::string why = "the public 835 sample folder " + sample_folder_path().string() +
                      " is missing (../shared/samples/835 beside the checkout)";
    if (samples_required()) {
        why += "; REMITRAX_REQUIRE_SAMPLES=1 requires it";
    }
    return why;
}

// The sample folder. Throws when it is not there, so that a test that reads it without
// REMITRAX_SKIP_WITHOUT_SAMPLES() fails with the message rather than reading nothing.
inline std::filesystem::path sample_folder() {
    if (const auto missing = samples_missing()) {
        throw std::runtime_error(*missing);
    }
    return sample_folder_path();
}

}  // namespace remitrax::testing

// Ends the calling test, before it reads a sample, when the sample folder is missing: skipped
// with the folder's name, or failed with it under REMITRAX_REQUIRE_SAMPLES=1.
#define REMITRAX_SKIP_WITHOUT_SAMPLES()                                             \
    do {                                                                            \
        if (const auto remitrax_missing = ::remitrax::testing::samples_missing()) { \
            if (::remitrax::testing::samples_required()) {                          \
                GTEST_FAIL() << *remitrax_missing;                                  \
            }                                                                       \
            GTEST_SKIP() << *remitrax_missing;                                      \
        }                                                                           \
    } while (false)
