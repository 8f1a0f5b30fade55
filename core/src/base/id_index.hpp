// Dense numbers for the segment ids a spec names, so that whatever depends on a segment's id
// can be looked up in plain arrays once its number is known.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace remitrax {

class IdIndex {
  public:
    // The number of every id that was never added.
    static constexpr std::uint32_t unknown = 0xFFFFFFFFu;

    IdIndex() : slots_(kSlots) {}

    // The id's number, given in order of first addition.
    std::uint32_t add(std::string_view id) {
        if (const std::uint32_t found = find(id); found != unknown) {
            return found;
        }
        const auto number = static_cast<std::uint32_t>(count_++);
        names_.emplace_back(id);
        if (id.size() >= kShort || count_ * 2 > kSlots) {
            long_.emplace(std::string(id), number);
            return number;
        }
        const std::uint64_t key = pack(id);
        for (std::size_t i = slot_of(key);; i = (i + 1) & (kSlots - 1)) {
            if (slots_[i].key == 0) {
                slots_[i] = {key, number};
                return number;
            }
        }
    }

    std::uint32_t find(std::string_view id) const {
        if (id.size() < kShort) {
            if (const std::uint32_t found = find_key(pack(id)); found != unknown) {
                return found;
            }
        }
        return find_long(id);
    }
    // find for an id shorter than kShort whose bytes `word` also holds, first byte lowest;
    // the bytes of `word` past the id are ignored.
    std::uint32_t find_short(std::string_view id, std::uint64_t word) const {
        const std::uint64_t marker = std::uint64_t{1} << (8 * id.size());
        const std::uint32_t found = find_key((word & (marker - 1)) | marker);
        // Once the table is half full, ids go to the long list.
        return found != unknown || long_.empty() ? found : find_long(id);
    }

    // How many ids were added.
    std::size_t size() const { return count_; }
    // The id numbered `number`.
    std::string_view name(std::uint32_t number) const { return names_[number]; }

    static constexpr std::size_t kShort = 8;

  private:
    static constexpr std::size_t kSlots = 256;

    struct Slot {
        std::uint64_t key = 0;  // 0 marks a free slot; a packed id is never 0
        std::uint32_t number = 0;
    };

    // The bytes in the low positions and a 1 byte above them, so ids differing only in
    // trailing zero bytes stay apart.
    // Only ids shorter than kShort are packed. Two loads of four bytes cover 4 to 7 bytes,
    // three single bytes cover 1 to 3, some of them twice.
    // Kept out of line, so the common lookup calls nothing.
    std::uint32_t find_key(std::uint64_t key) const {
        for (std::size_t i = slot_of(key);; i = (i + 1) & (kSlots - 1)) {
            if (slots_[i].key == key) {
                return slots_[i].number;
            }
            if (slots_[i].key == 0) {
                return unknown;
            }
        }
    }
    [[gnu::noinline]] std::uint32_t find_long(std::string_view id) const {
        const auto found = long_.find(id);
        return found == long_.end() ? unknown : found->second;
    }
    static std::uint64_t pack(std::string_view id) {
        const std::size_t size = id.size();
        std::uint64_t key = 0;
        if (size >= 4) {
            key = load4(id.data()) | (load4(id.data() + size - 4) << (8 * (size - 4)));
        } else if (size > 0) {
            key = byte(id, 0) | (byte(id, size / 2) << (8 * (size / 2))) |
                  (byte(id, size - 1) << (8 * (size - 1)));
        }
        return key | (std::uint64_t{1} << (8 * size));
    }
    static std::uint64_t byte(std::string_view id, std::size_t at) {
        return static_cast<unsigned char>(id[at]);
    }
    static std::uint64_t load4(const char* bytes) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes, sizeof word);
        return std::endian::native == std::endian::little ? word : std::byteswap(word);
    }
    static std::size_t slot_of(std::uint64_t key) {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 56);
    }

    // Hashes the bytes of a string and of a view alike, so that finding needs no string.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view id) const {
            return std::hash<std::string_view>{}(id);
        }
    };

    std::vector<Slot> slots_;
    // The ids without a slot: those of kShort bytes or more, and all added once the slots
    // were half full. A spec may name tens of thousands, so they are hashed, not scanned.
    std::unordered_map<std::string, std::uint32_t, Hash, std::equal_to<>> long_;
    std::vector<std::string> names_;  // by number
    std::size_t count_ = 0;
};

}  // namespace remitrax
