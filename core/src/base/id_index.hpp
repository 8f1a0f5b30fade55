// Dense numbers for the segment ids a spec names, so that whatever depends on a segment's id
// can be looked up in plain arrays once its number is known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/bytes.hpp"

namespace remitrax {

class IdIndex {
  public:
    // The number of every id that was never added.
    static constexpr std::uint32_t unknown = 0xFFFFFFFFu;

    IdIndex() : buckets_(kBuckets) {}

    // The id's number, given in order of first addition.
    std::uint32_t add(std::string_view id) {
        if (const std::uint32_t found = find(id); found != unknown) {
            return found;
        }
        const auto number = static_cast<std::uint32_t>(count_++);
        names_.emplace_back(id);
        if (id.size() >= kShort || count_ * 2 > kBuckets) {
            long_.emplace(std::string(id), number);
            return number;
        }
        const std::uint64_t key = bytes::key(id);
        for (std::size_t i = bucket_of(key);; i = (i + 1) & (kBuckets - 1)) {
            if (buckets_[i].key == 0) {
                buckets_[i] = {key, number};
                return number;
            }
        }
    }

    std::uint32_t find(std::string_view id) const {
        if (id.size() < kShort) {
            if (const std::uint32_t found = find_key(bytes::key(id)); found != unknown) {
                return found;
            }
        }
        return find_long(id);
    }
    // find for an id shorter than kShort whose bytes `word` also holds, first byte lowest;
    // the bytes of `word` past the id are ignored.
    std::uint32_t find_short(std::string_view id, std::uint64_t word) const {
        const std::uint32_t found = find_key(bytes::key_of_word(word, id.size()));
        // Once the table is half full, ids go to the long list.
        return found != unknown || long_.empty() ? found : find_long(id);
    }

    // How many ids were added.
    std::size_t size() const { return count_; }
    // The id numbered `number`.
    std::string_view name(std::uint32_t number) const { return names_[number]; }

    // Ids shorter than this have a key (bytes::key) and are found by it.
    static constexpr std::size_t kShort = bytes::key_limit;

  private:
    static constexpr std::size_t kBuckets = 256;

    struct Bucket {
        std::uint64_t key = 0;  // 0 marks a free bucket; a key is never 0
        std::uint32_t number = 0;
    };

    std::uint32_t find_key(std::uint64_t key) const {
        for (std::size_t i = bucket_of(key);; i = (i + 1) & (kBuckets - 1)) {
            if (buckets_[i].key == key) {
                return buckets_[i].number;
            }
            if (buckets_[i].key == 0) {
                return unknown;
            }
        }
    }
    [[gnu::noinline]] std::uint32_t find_long(std::string_view id) const {
        const auto found = long_.find(id);
        return found == long_.end() ? unknown : found->second;
    }
    static std::size_t bucket_of(std::uint64_t key) {
        return static_cast<std::size_t>(bytes::spread_key(key) >> 56);
    }

    // Hashes the bytes of a string and of a view alike, so that finding needs no string.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view id) const {
            return std::hash<std::string_view>{}(id);
        }
    };

    std::vector<Bucket> buckets_;
    // The ids without a bucket: those of kShort bytes or more, and all added once the buckets
    // were half full. A spec may name tens of thousands, so they are hashed, not scanned.
    std::unordered_map<std::string, std::uint32_t, Hash, std::equal_to<>> long_;
    std::vector<std::string> names_;  // by number
    std::size_t count_ = 0;
};

}  // namespace remitrax
