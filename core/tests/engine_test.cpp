// Placing segments in the loop tree: the events of each segment, in order.
#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/buffer.hpp"
#include "engine/engine.hpp"
#include "spec/spec.hpp"
#include "x12/document.hpp"
#include "x12/tokenizer.hpp"

namespace {

using remitrax::Buffer;
using remitrax::Delimiters;
using remitrax::Document;
using remitrax::Event;
using remitrax::EventKind;
using remitrax::LoopEngine;
using remitrax::Spec;
using remitrax::Tokenizer;

// "Open(2100,4)", "Open(group,1,implicit)", "Close(2110)", "Placed(2100,4)", "Unplaced(4)",
// "Empty(4)", joined by spaces.
std::string render(const Spec& spec, std::span<const Event> events) {
    std::string out;
    for (const Event& event : events) {
        if (!out.empty()) {
            out += ' ';
        }
        const std::string at = std::to_string(event.segment());
        switch (event.kind()) {
            case EventKind::Open:
                out += "Open(" + spec.loops[event.loop()].name + "," + at +
                       (event.implicit() ? ",implicit)" : ")");
                break;
            case EventKind::Close:
                out += "Close(" + spec.loops[event.loop()].name + ")";
                break;
            case EventKind::Placed:
                out += "Placed(" + spec.loops[event.loop()].name + "," + at + ")";
                break;
            case EventKind::Unplaced:
                out += "Unplaced(" + at + ")";
                break;
            case EventKind::Empty:
                out += "Empty(" + at + ")";
                break;
        }
    }
    return out;
}

// One line per segment ("CLP: ..."), from segment `skip` on, then "end: ..." for close_all.
std::vector<std::string> run(const Spec& spec, std::string_view text, std::size_t skip = 0) {
    LoopEngine engine(spec);
    Tokenizer tokens(text, Delimiters{'*', ':', '~', '^', std::nullopt});
    std::vector<std::string> lines;
    while (const auto segment = tokens.next()) {
        const std::string line =
            std::string(segment->id()) + ": " + render(spec, engine.feed(*segment));
        if (segment->index() >= skip) {
            lines.push_back(line);
        }
    }
    lines.push_back("end: " + render(spec, engine.close_all()));
    // Nothing is left open to close again.
    EXPECT_TRUE(engine.close_all().empty());
    return lines;
}

std::shared_ptr<const Spec> load(std::string_view json) {
    auto spec = Spec::from_json(json);
    EXPECT_TRUE(spec.has_value()) << (spec ? "" : spec.error().to_string());
    return spec ? *spec : nullptr;
}

struct Case {
    std::string_view text;
    std::vector<std::string> lines;
};

void check(const Spec& spec, std::span<const Case> cases, std::size_t skip = 0) {
    for (const Case& c : cases) {
        EXPECT_EQ(run(spec, c.text, skip), c.lines) << c.text;
    }
}

// The stored form of an event: a kind byte, a flag byte and two words.
struct EventWords {
    EventKind kind;
    std::uint8_t flag;
    std::uint64_t first;
    std::uint64_t second;
};

TEST(LoopEngine, EventFieldsSitInTheirWords) {
    // kind, flag, first word, second word
    const auto words = [](const Event& e) {
        const auto stored = std::bit_cast<EventWords>(e);
        return std::vector<std::uint64_t>{static_cast<std::uint64_t>(stored.kind), stored.flag,
                                          stored.first, stored.second};
    };
    using W = std::vector<std::uint64_t>;
    EXPECT_EQ(words(Event::open(7, 12, true)), (W{0, 1, 7, 12}));
    EXPECT_EQ(words(Event::open(7, 12, false)), (W{0, 0, 7, 12}));
    EXPECT_EQ(words(Event::close(3)), (W{1, 0, 3, 0}));
    EXPECT_EQ(words(Event::placed(3, 9)), (W{2, 0, 3, 9}));
    EXPECT_EQ(words(Event::unplaced(9)), (W{3, 0, 9, 0}));
    EXPECT_EQ(words(Event::empty(9)), (W{4, 0, 9, 0}));
}

// A whole interchange parsed from its header, then a claim after the interchange has closed.
TEST(LoopEngine, PlacesInterchangeThenRecoversAfterIt) {
    const auto spec = Spec::builtin_835();
    auto document = Document::parse(Buffer::copy_of(
        "ISA*00*          *00*          *ZZ*SENDER         *ZZ*RECEIVER       "
        "*200101*1200*^*00501*000000001*0*P*:~GS*HP*A*B*20200101*1200*1*X*005010X221A1~"
        "ST*835*0001~BPR*I~N1*PR*PAYER~N3*STREET~N1*PE*PAYEE~REF*TJ*1~LX*1~CLP*A~CAS*CO~"
        "SVC*HC:1~DTM*472~CLP*B~SE*14*0001~GE*1*1~IEA*1*000000001~CLP*C~\n"));
    ASSERT_TRUE(document.has_value());
    LoopEngine engine(*spec);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < document->size(); ++i) {
        lines.push_back(render(*spec, engine.feed(*document->segment(i))));
    }
    lines.push_back(render(*spec, engine.close_all()));
    lines.push_back(render(*spec, engine.close_all()));
    const std::vector<std::string> expected = {
        "Open(interchange,0) Placed(interchange,0)",
        "Open(group,1) Placed(group,1)",
        "Open(transaction,2) Placed(transaction,2)",
        "Placed(transaction,3)",
        "Open(1000A,4) Placed(1000A,4)",
        "Placed(1000A,5)",
        "Close(1000A) Open(1000B,6) Placed(1000B,6)",
        "Placed(1000B,7)",
        "Close(1000B) Open(2000,8) Placed(2000,8)",
        "Open(2100,9) Placed(2100,9)",
        "Placed(2100,10)",
        "Open(2110,11) Placed(2110,11)",
        "Placed(2110,12)",
        "Close(2110) Close(2100) Open(2100,13) Placed(2100,13)",
        "Close(2100) Close(2000) Placed(transaction,14) Close(transaction)",
        "Placed(group,15) Close(group)",
        "Placed(interchange,16) Close(interchange)",
        "Open(interchange,17,implicit) Open(group,17,implicit) Open(transaction,17,implicit) "
        "Open(2000,17,implicit) Open(2100,17) Placed(2100,17)",
        "Empty(18)",
        "Close(2100) Close(2000) Close(transaction) Close(group) Close(interchange)",
        "",
    };
    EXPECT_EQ(lines, expected);
}

// Segments after "ISA~GS~ST~", which leave interchange, group and transaction open.
TEST(LoopEngine, ChildTriggerOfTheInnermostOwningLoopWins) {
    const auto spec = Spec::builtin_835();
    const std::string closing = "Close(transaction) Close(group) Close(interchange)";
    const Case cases[] = {
        // A second trigger of the innermost loop starts a new instance.
        {"ISA~GS~ST~LX~CLP~CAS~CLP~",
         {"LX: Open(2000,3) Placed(2000,3)", "CLP: Open(2100,4) Placed(2100,4)",
          "CAS: Placed(2100,5)", "CLP: Close(2100) Open(2100,6) Placed(2100,6)",
          "end: Close(2100) Close(2000) " + closing}},
        // The loop that yields the child is found outwards; deeper loops close first.
        {"ISA~GS~ST~LX~CLP~SVC~LX~",
         {"LX: Open(2000,3) Placed(2000,3)", "CLP: Open(2100,4) Placed(2100,4)",
          "SVC: Open(2110,5) Placed(2110,5)",
          "LX: Close(2110) Close(2100) Close(2000) Open(2000,6) Placed(2000,6)",
          "end: Close(2000) " + closing}},
        {"ISA~GS~ST~LX~CLP~ST~",
         {"LX: Open(2000,3) Placed(2000,3)", "CLP: Open(2100,4) Placed(2100,4)",
          "ST: Close(2100) Close(2000) Close(transaction) Open(transaction,5) "
          "Placed(transaction,5)",
          "end: " + closing}},
        // A root trigger closes every open loop.
        {"ISA~GS~ST~LX~ISA~",
         {"LX: Open(2000,3) Placed(2000,3)",
          "ISA: Close(2000) " + closing + " Open(interchange,4) Placed(interchange,4)",
          "end: Close(interchange)"}},
    };
    check(*spec, cases, 3);
}

TEST(LoopEngine, MemberOrEndGoesToTheInnermostLoopHoldingIt) {
    const auto spec = Spec::builtin_835();
    const std::string closing = "Close(transaction) Close(group) Close(interchange)";
    const Case cases[] = {
        // REF and DTM are members of 2110, 2100 and transaction.
        {"ISA~GS~ST~REF~LX~CLP~SVC~REF~DTM~TS3~",
         {"REF: Placed(transaction,3)", "LX: Open(2000,4) Placed(2000,4)",
          "CLP: Open(2100,5) Placed(2100,5)", "SVC: Open(2110,6) Placed(2110,6)",
          "REF: Placed(2110,7)", "DTM: Placed(2110,8)",
          "TS3: Close(2110) Close(2100) Placed(2000,9)", "end: Close(2000) " + closing}},
        // An end segment of an outer loop closes the inner ones, is placed, then closes it.
        {"ISA~GS~ST~LX~CLP~SVC~SE~GE~",
         {"LX: Open(2000,3) Placed(2000,3)", "CLP: Open(2100,4) Placed(2100,4)",
          "SVC: Open(2110,5) Placed(2110,5)",
          "SE: Close(2110) Close(2100) Close(2000) Placed(transaction,6) Close(transaction)",
          "GE: Placed(group,7) Close(group)", "end: Close(interchange)"}},
    };
    check(*spec, cases, 3);
}

TEST(LoopEngine, ChildTriggerComesBeforeMembershipAndOuterMatches) {
    // B is a member of a, the trigger of b's child c, and with a condition of a's child d.
    const auto spec = load(R"({"name": "t", "loops": {
        "a": {"trigger": {"segment": "A"}, "segments": ["B", "E"], "end": "E"},
        "b": {"parent": "a", "trigger": {"segment": "C"}},
        "c": {"parent": "b", "trigger": {"segment": "B"}},
        "d": {"parent": "a", "trigger": {"segment": "B", "where": {"1": "Y"}}}}})");
    ASSERT_NE(spec, nullptr);
    const Case cases[] = {
        {"A~C~B~B~",
         {"A: Open(a,0) Placed(a,0)", "C: Open(b,1) Placed(b,1)", "B: Open(c,2) Placed(c,2)",
          "B: Close(c) Open(c,3) Placed(c,3)", "end: Close(c) Close(b) Close(a)"}},
        // d is more specific, but b is the innermost open loop with a matching child.
        {"A~C~B*Y~",
         {"A: Open(a,0) Placed(a,0)", "C: Open(b,1) Placed(b,1)", "B: Open(c,2) Placed(c,2)",
          "end: Close(c) Close(b) Close(a)"}},
        {"A~B*Y~B~",
         {"A: Open(a,0) Placed(a,0)", "B: Open(d,1) Placed(d,1)", "B: Close(d) Placed(a,2)",
          "end: Close(a)"}},
        // A member that is also the end ends the loop.
        {"A~C~E~",
         {"A: Open(a,0) Placed(a,0)", "C: Open(b,1) Placed(b,1)",
          "E: Close(b) Placed(a,2) Close(a)", "end: "}},
    };
    check(*spec, cases);
}

TEST(LoopEngine, RecoveryOpensTheMissingAncestors) {
    const auto spec = Spec::builtin_835();
    const Case cases[] = {
        // Only the group is open: transaction and 2000 are opened for the claim.
        {"ISA~GS~ST~SE~CLP~",
         {"SE: Placed(transaction,3) Close(transaction)",
          "CLP: Open(transaction,4,implicit) Open(2000,4,implicit) Open(2100,4) "
          "Placed(2100,4)",
          "end: Close(2100) Close(2000) Close(transaction) Close(group) Close(interchange)"}},
        // The deepest open ancestor is transaction: 1000A above it is left.
        {"ISA~GS~ST~N1*PR~SVC~",
         {"N1: Open(1000A,3) Placed(1000A,3)",
          "SVC: Close(1000A) Open(2000,4,implicit) Open(2100,4,implicit) Open(2110,4) "
          "Placed(2110,4)",
          "end: Close(2110) Close(2100) Close(2000) Close(transaction) Close(group) "
          "Close(interchange)"}},
    };
    check(*spec, cases, 3);
    // Only the root is open.
    EXPECT_EQ(run(*spec, "ISA~GE~N1*PE~", 1),
              (std::vector<std::string>{
                  "GE: Unplaced(1)",
                  "N1: Open(group,2,implicit) Open(transaction,2,implicit) Open(1000B,2) "
                  "Placed(1000B,2)",
                  "end: Close(1000B) Close(transaction) Close(group) Close(interchange)"}));
    // Nothing at all is open.
    EXPECT_EQ(run(*spec, "GS~"),
              (std::vector<std::string>{"GS: Open(interchange,0,implicit) Open(group,0) "
                                        "Placed(group,0)",
                                        "end: Close(group) Close(interchange)"}));
}

TEST(LoopEngine, RecoveryPrefersMoreConditionsThenLowerLoopId) {
    // Ids in name order: a 0, m 1, n 2, p 3, q 4, z 5. m and n are not siblings, so both may test
    // one position each.
    const auto spec = load(R"({"name": "t", "loops": {
        "a": {"trigger": {"segment": "A"}},
        "p": {"parent": "a", "trigger": {"segment": "P"}},
        "m": {"parent": "a", "trigger": {"segment": "X", "where": {"1": "1"}}},
        "n": {"parent": "p", "trigger": {"segment": "X", "where": {"2": "2"}}},
        "q": {"parent": "p", "trigger": {"segment": "X", "where": {"2": "2", "3": "3"}}},
        "z": {"trigger": {"segment": "Z"}}}})");
    ASSERT_NE(spec, nullptr);
    const Case cases[] = {
        {"X*1*2~", {"X: Open(a,0,implicit) Open(m,0) Placed(m,0)", "end: Close(m) Close(a)"}},
        {"X*0*2~",
         {"X: Open(a,0,implicit) Open(p,0,implicit) Open(n,0) Placed(n,0)",
          "end: Close(n) Close(p) Close(a)"}},
        {"X*1*2*3~",
         {"X: Open(a,0,implicit) Open(p,0,implicit) Open(q,0) Placed(q,0)",
          "end: Close(q) Close(p) Close(a)"}},
        {"X*1:1*2:2~", {"X: Unplaced(0)", "end: "}},
        // No ancestor is open: every open loop closes and the whole chain opens.
        {"Z~X*0*2~",
         {"Z: Open(z,0) Placed(z,0)",
          "X: Close(z) Open(a,1,implicit) Open(p,1,implicit) Open(n,1) Placed(n,1)",
          "end: Close(n) Close(p) Close(a)"}},
    };
    check(*spec, cases);
}

TEST(LoopEngine, EmptyAndUnplacedFramesLeaveTheStack) {
    const auto spec = Spec::builtin_835();
    const std::string all =
        "Close(2100) Close(2000) Close(transaction) Close(group) "
        "Close(interchange)";
    const Case cases[] = {
        {"ISA~GS~ST~LX~~CLP~ \r\n~CAS~\n",
         {"LX: Open(2000,3) Placed(2000,3)", ": Empty(4)", "CLP: Open(2100,5) Placed(2100,5)",
          ": Empty(6)", "CAS: Placed(2100,7)", ": Empty(8)", "end: " + all}},
        // An element makes a frame with an empty id a segment like any other.
        {"ISA~GS~ST~LX~CLP~*~ZZZ~CAS~",
         {"LX: Open(2000,3) Placed(2000,3)", "CLP: Open(2100,4) Placed(2100,4)", ": Unplaced(5)",
          "ZZZ: Unplaced(6)", "CAS: Placed(2100,7)", "end: " + all}},
    };
    check(*spec, cases, 3);
    EXPECT_EQ(run(*spec, "~ZZZ~"),
              (std::vector<std::string>{": Empty(0)", "ZZZ: Unplaced(1)", "end: "}));
}

}  // namespace
