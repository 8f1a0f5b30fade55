// The 835 inputs written for the project and kept in golden/inputs; the build passes the
// golden folder as REMITRAX_GOLDEN_DIR. Tests that need an input of some length but are not
// about any particular file read these, or many copies of one, so they need nothing outside
// the repository.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace remitrax::testing {

// The bytes of golden/inputs/<name>. Throws when the file cannot be read.
inline std::string golden_input(std::string_view name) {
    const std::filesystem::path path = std::filesystem::path(REMITRAX_GOLDEN_DIR) / "inputs" / name;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read the golden input " + path.string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `copies` copies of `text`, one after the other: of an interchange, a file of that many
// interchanges.
inline std::string repeated(std::string_view text, std::size_t copies) {
    std::string out;
    out.reserve(text.size() * copies);
    for (std::size_t i = 0; i < copies; ++i) {
        out += text;
    }
    return out;
}

}  // namespace remitrax::testing
