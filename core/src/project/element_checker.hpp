// The element checks of placed segments: every defined element and component of a segment's
// plan is checked against its definition (required, type, length, code list, composite
// shape), and the values that columns read are kept for the row builder, so that no value is
// parsed twice.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "column/types.hpp"
#include "project/findings.hpp"
#include "project/plan.hpp"
#include "spec/elements.hpp"
#include "x12/segment.hpp"

namespace remitrax {

class ElementChecker {
  public:
    // Compiles the checks of every plan; `plans` gives the plan of each id number (null for
    // an id without one). The plans must outlive the checker.
    ElementChecker(std::span<const SegmentPlan* const> plans, char component_separator);

    // Checks a placed segment by the plan of its id number, reporting to `findings`. Keeps
    // the values its plan keeps, valid until the next check of a segment with a plan.
    void check(const Segment& segment, std::uint32_t id, std::uint64_t index, Findings& findings) {
        if (id < checks_.size() && checks_[id]) {
            check_segment(segment, *checks_[id], index, findings);
        }
    }

    // A value kept by the checks, in plain words rather than a Cell: a Decimal is written as two
    // halves and read back as the same two halves, so neither side waits on a wider access to
    // memory the other just touched.
    struct Kept {
        enum class Kind : std::uint8_t { Null, Bytes, Int, Decimal, Date, Time };
        std::uint64_t low = 0;   // an Int, Date or Time sign-extended; the low half of a Decimal
        std::uint64_t high = 0;  // the high half of a Decimal
        std::uint64_t stamp = 0;
        Kind kind = Kind::Null;
    };
    // What the last check kept in `slot`, a slot of its plan; null when it kept nothing
    // there (an empty value). Bytes are kept without their text, which a column reads again
    // from the segment.
    const Kept* kept(std::uint32_t slot) const {
        const Kept& value = kept_[slot];
        return value.stamp == stamp_ ? &value : nullptr;
    }

  private:
    // One value check, with what the definition asks resolved once.
    struct ValueCheck {
        const ElementDef* def = nullptr;
        const CodeSet* codes = nullptr;  // null when any value is allowed
        // The bounds of value::length; without a minimum or a maximum, 0 or the largest value.
        std::uint64_t min = 0;
        std::uint64_t max = 0;
        std::uint64_t position = 0;  // of the element, or of the component in it; 1-based
        std::uint32_t slot = 0;      // where the value is kept, or no_slot
        ColumnType type;             // column_type_of the definition's type
        bool required = false;
    };
    struct ElementCheck {
        ValueCheck value;
        std::uint64_t max_component = 0;
        std::uint32_t components_begin = 0;  // into component_checks_; empty when simple
        std::uint32_t components_end = 0;
        // Into required_: the first required check of the plan at or after this one.
        std::uint32_t required_from = 0;
    };
    // The checks of one segment plan, as ranges of element_checks_ and required_.
    struct SegmentChecks {
        std::uint32_t elements_begin = 0;
        std::uint32_t elements_end = 0;
        std::uint32_t required_begin = 0;
        std::uint32_t required_end = 0;
    };
    static ValueCheck value_check(std::uint64_t position, const ElementDef& def, ColumnType type,
                                  const CodeSet& codes, bool keep, std::uint32_t slot);
    SegmentChecks compile(const SegmentPlan& plan);
    void check_segment(const Segment& segment, const SegmentChecks& checks, std::uint64_t index,
                       Findings& findings);

    enum class Finding : std::uint8_t { Missing, Type, Length, Code };
    // Reports what the check of one value found; kept apart from the checks, which rarely
    // find anything.
    [[gnu::cold]] [[gnu::noinline]] void report_value(Finding finding, const Segment& segment,
                                                      std::uint64_t index, std::uint64_t element,
                                                      std::optional<std::uint64_t> component,
                                                      const ValueCheck& check,
                                                      std::string_view text);
    // Reports a composite with more components than its plan declares.
    [[gnu::cold]] [[gnu::noinline]] void report_shape(const Segment& segment, std::uint64_t index,
                                                      const ElementCheck& check,
                                                      const Element& data);
    // Checks one value. When the check keeps the value and the text is not empty, the value
    // parsed is kept in its slot: Null unless the text is valid for the type. Text that lies
    // in `raw` may be read in words that start before it, from the start of `raw` on.
    void check_value(const Segment& segment, std::uint64_t index, std::uint64_t element,
                     std::optional<std::uint64_t> component, const ValueCheck& check,
                     std::string_view text, std::string_view raw);
    // A value not valid for its type: kept as Null and reported.
    [[gnu::cold]] [[gnu::noinline]] void refuse_value(const Segment& segment, std::uint64_t index,
                                                      std::uint64_t element,
                                                      std::optional<std::uint64_t> component,
                                                      const ValueCheck& check,
                                                      std::string_view text);

    std::vector<std::optional<SegmentChecks>> checks_;  // by id number; none without a plan
    std::vector<ElementCheck> element_checks_;
    std::vector<ValueCheck> component_checks_;
    std::vector<std::uint32_t> required_;  // into element_checks_, ascending per segment plan
    std::vector<Kept> kept_;               // by slot
    // The check a kept value belongs to: the values of earlier checks are stale.
    std::uint64_t stamp_ = 0;
    std::string scratch_;
    Findings* findings_ = nullptr;  // of the check under way
    char component_separator_;
};

}  // namespace remitrax
