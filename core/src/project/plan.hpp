// Projection plans: per segment id, the element definitions to check, which checked values a
// column reads, and which columns of loop-anchored tables a segment fills in each loop.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.hpp"
#include "base/id_index.hpp"
#include "column/parse.hpp"
#include "column/types.hpp"
#include "spec/elements.hpp"
#include "spec/loops.hpp"
#include "spec/spec.hpp"
#include "spec/tables.hpp"

namespace remitrax {

// Every plan points into the Spec it was built from. A Spec is immutable, so the pointers stay
// valid as long as the owner of the plans keeps that Spec alive, which it must for their whole
// life.

// AN and ID keep text, N becomes Int64 with its implied decimals as scale, R becomes
// Decimal128(38, scale), DT and TM become Date32 and Time32.
ColumnType column_type_of(ElementType type);

// The type of one spec column of `table`: that of the element (or component) it reads, Int64
// with scale 0 for a segment index, and Binary whenever no definition applies.
ColumnType column_type(const Spec& spec, const TableDef& table, const ColumnSource& source);

// A code list as keys of their bytes (bytes::key), so that a lookup compares integers; codes
// of 8 bytes or more have no key and are searched among the codes themselves.
struct CodeSet {
    std::vector<std::uint64_t> keys;  // ascending
    bool complete = true;             // every code is short enough to have a key

    static CodeSet of(const std::vector<std::string>& codes);
    // Whether `text` is one of `codes`, the list this set was made of; `text` lies in
    // `window`, all of which may be read.
    bool contains(std::string_view text, const std::vector<std::string>& codes,
                  std::string_view window) const {
#if defined(REMITRAX_ABLATION_CODE_KEYS)
        // Every code searched among the sorted codes.
        static_cast<void>(window);
        return contains_long(text, codes);
#endif
        if (const std::uint64_t key = bytes::key(text, window); key != 0) {
            // Open addressing over a power-of-two table at most a quarter full; 0 marks a free
            // bucket, which no key is.
            for (std::size_t i = bucket_of(key);; i = (i + 1) & mask_) {
                if (table_[i] == key) {
                    return true;
                }
                if (table_[i] == 0) {
                    break;
                }
            }
        }
        return !complete && contains_long(text, codes);
    }

  private:
    std::size_t bucket_of(std::uint64_t key) const {
        return static_cast<std::size_t>(bytes::spread_key(key) >> 32) & mask_;
    }
    // The search among the codes that have no key.
    static bool contains_long(std::string_view text, const std::vector<std::string>& codes);

    std::vector<std::uint64_t> table_ = std::vector<std::uint64_t>(1, 0);
    std::size_t mask_ = 0;
};

// The slot of an element or component that no check keeps.
inline constexpr std::uint32_t no_slot = std::numeric_limits<std::uint32_t>::max();

// One declared component of a composite element.
struct ComponentPlan {
    std::uint64_t position = 0;  // 1-based
    const ElementDef* def = nullptr;
    ColumnType column_type;
    bool keep = false;       // some column reads this component
    CodeSet codes;           // of def->codes
    std::uint32_t slot = 0;  // when kept: its number among the kept values of the segment plan
};

// How to check one defined element of a segment id.
struct ElementPlan {
    std::vector<ComponentPlan> components;  // ascending position; empty without a composite
    const ElementDef* def = nullptr;
    std::uint64_t position = 0;       // 1-based
    std::uint64_t max_component = 0;  // highest declared component; 0 without a composite
    bool keep = false;                // some column reads the element itself
    ColumnType column_type;
    CodeSet codes;           // of def->codes
    std::uint32_t slot = 0;  // when kept: its number among the kept values of the segment plan

    // Nothing kept yet; `def` must outlive the plan.
    static ElementPlan create(std::uint64_t position, const ElementDef& def);
};

// One spec column (counted from 0, automatic columns excluded) of one table.
struct ColumnRef {
    TableIndex table = 0;
    std::size_t column = 0;

    friend bool operator==(const ColumnRef&, const ColumnRef&) = default;
};

// Everything planned for one segment id.
struct SegmentPlan {
    // One per defined element, ascending position; empty for an id only read by columns.
    std::vector<ElementPlan> elements;
    // The indexes into `elements` of those whose definition is required, ascending: past a
    // segment's last element only these report.
    std::vector<std::size_t> required;
    // Indexed by LoopId, one list per loop of the spec: the columns a segment with this id
    // placed directly in that loop may fill, in attachment order.
    std::vector<std::vector<ColumnRef>> by_loop;
    // The number of kept elements and components, numbered by build in check order.
    std::uint32_t kept = 0;

    // The slot of the value kept for exactly this element, component and type, or no_slot.
    std::uint32_t slot_of(std::uint64_t element, std::optional<std::uint64_t> component,
                          ColumnType type) const;
};

// Segment plans by id. Ids below 8 bytes are looked up by their key (bytes::key), the others
// by their bytes; the choice depends on the id's length alone.
class Plans {
  public:
    using ShortMap = std::map<std::uint64_t, SegmentPlan>;
    using LongMap = std::map<std::string, SegmentPlan, std::less<>>;

    // All plans of `spec`: element plans for every defined segment, then, table by table, the
    // columns attached to loops and the keep flags. Doing the per-table steps in one pass here
    // rather than between other per-table work gives the same plans.
    static Plans build(const Spec& spec);

    // Null when the id has no plan.
    const SegmentPlan* get(std::string_view id) const;
    // The plan of `id`, inserted first when absent with no elements and `loop_count` empty
    // column lists. References stay valid while the plans live.
    SegmentPlan& entry(std::string_view id, std::size_t loop_count);
    // Sets the keep flags of the elements and components that the columns of `table` read;
    // plans that do not exist are not created.
    void mark_columns(const Spec& spec, const TableDef& table);

    const ShortMap& short_ids() const { return short_; }
    const LongMap& long_ids() const { return long_; }

  private:
    // The lookup of get and find, for a const or a mutable Plans.
    template <typename Self>
    static auto find_in(Self& self, std::string_view id) -> decltype(&self.short_.begin()->second);
    SegmentPlan* find(std::string_view id);
    // Marks the element whole, or only its declared component `component`.
    static void mark(ElementPlan& element, std::optional<std::uint64_t> component);

    ShortMap short_;
    LongMap long_;
};

// The segment ids a projector numbers, so that its checks and routes are found by number: the
// ids with a plan (those of short packed keys first, then the others, each in key order), then
// the segments of segment-anchored tables; and the plan of each number.
struct PlanIndex {
    IdIndex ids;
    std::vector<const SegmentPlan*> plans;  // by id number; null without a plan

    // `plans` must outlive the index.
    static PlanIndex build(const Spec& spec, const Plans& plans);
};

}  // namespace remitrax
