// Byte views and the one owned input buffer.
//
// X12 data stays bytes from end to end. A view is a std::string_view, whose comparisons
// go through char_traits<char> and so order bytes as unsigned values, like memcmp.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace remitrax {

// A heap block of input bytes whose address never changes, so views into it stay valid
// when the owner moves (a std::string would move short contents with itself).
class Buffer {
  public:
    Buffer() = default;

    // A buffer of `size` bytes left uninitialised, for a caller that fills it at once.
    static Buffer uninitialized(std::size_t size) {
        Buffer b;
        b.data_ = std::make_unique_for_overwrite<char[]>(size);
        b.size_ = size;
        return b;
    }

    static Buffer copy_of(std::string_view bytes) {
        Buffer b = uninitialized(bytes.size());
        if (!bytes.empty()) {
            std::memcpy(b.data_.get(), bytes.data(), bytes.size());
        }
        return b;
    }

    char* data() { return data_.get(); }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {data_.get(), size_}; }

  private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
};

}  // namespace remitrax
