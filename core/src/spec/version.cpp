// Compiling a spec's declared version, matching one segment against it, and the choice among
// candidate versions as segments are read.
#include "spec/version.hpp"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

namespace remitrax {

namespace {

SpecError bad_version(VersionError reason) {
    return SpecError{SpecError::BadVersion{std::move(reason)}};
}

}  // namespace

[[nodiscard]] std::expected<DeclaredVersion, SpecError> compile_version(const RawVersion& raw) {
    if (raw.segment.empty()) {
        return std::unexpected(
            SpecError{SpecError::EmptySegmentId{std::nullopt, "version.segment"}});
    }
    if (raw.element == 0) {
        return std::unexpected(bad_version({VersionError::ZeroElement{}}));
    }
    if (raw.values.empty()) {
        return std::unexpected(bad_version({VersionError::NoValues{}}));
    }
    // Emptiness is checked across all values before any duplicate is looked for.
    for (std::size_t i = 0; i < raw.values.size(); ++i) {
        if (raw.values[i].empty()) {
            return std::unexpected(bad_version({VersionError::EmptyValue{i}}));
        }
    }
    std::map<std::string_view, std::size_t> seen;
    for (std::size_t i = 0; i < raw.values.size(); ++i) {
        const auto [at, fresh] = seen.emplace(raw.values[i], i);
        if (!fresh) {
            return std::unexpected(
                bad_version({VersionError::DuplicateValue{raw.values[i], at->second, i}}));
        }
    }
    return DeclaredVersion{raw.segment, raw.values, raw.element};
}

VersionMatch DeclaredVersion::matches(const Segment& seg) const {
    if (seg.id() != segment) {
        return VersionMatch::OtherSegment;
    }
    const auto elements = seg.elements();
    // Position 0 would be the id itself, which no element holds.
    if (element == 0 || element > elements.size()) {
        return VersionMatch::Mismatch;
    }
    const Element& held = elements[static_cast<std::size_t>(element - 1)];
    if (held.is_composite()) {
        return VersionMatch::Mismatch;
    }
    const std::string_view value = held.value().bytes();
    return std::ranges::find(values, value) != values.end() ? VersionMatch::Match
                                                            : VersionMatch::Mismatch;
}

VersionSelection::VersionSelection(std::span<const DeclaredVersion* const> candidates)
    : candidates_(candidates) {
    states_.reserve(candidates.size());
    for (const DeclaredVersion* version : candidates) {
        states_.push_back(version == nullptr ? State::Rejected : State::Undecided);
    }
}

bool VersionSelection::decided() const {
    const auto leader = std::ranges::find_if(states_, [](State s) { return s != State::Rejected; });
    return leader == states_.end() || *leader == State::Accepted;
}

void VersionSelection::feed(const Segment& segment) {
    for (std::size_t i = 0; i < states_.size(); ++i) {
        if (states_[i] != State::Undecided) {
            continue;
        }
        switch (candidates_[i]->matches(segment)) {
            case VersionMatch::OtherSegment:
                break;
            case VersionMatch::Match:
                states_[i] = State::Accepted;
                break;
            case VersionMatch::Mismatch:
                states_[i] = State::Rejected;
                break;
        }
    }
}

std::optional<std::size_t> VersionSelection::choice() const {
    // Once decided, the leader is the first accepted candidate, or there is none.
    const auto first = std::ranges::find(states_, State::Accepted);
    if (first == states_.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(first - states_.begin());
}

}  // namespace remitrax
