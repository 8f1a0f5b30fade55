// Cutting input into frames, and the two ways of walking segments (the streaming tokenizer
// and the indexed document), which must agree with each other and lose no byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sample_folder.hpp"
#include "x12/document.hpp"
#include "x12/frame.hpp"
#include "x12/tokenizer.hpp"

namespace {

using remitrax::Buffer;
using remitrax::Delimiters;
using remitrax::Document;
using remitrax::Segment;

// Quoted, with control and high bytes as escapes, so that distinct byte strings print
// distinctly.
std::string quote(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n') {
            out += c == '\r' ? "\\r" : "\\n";
        } else if (b < 0x20 || b >= 0x7f || c == '"' || c == '\\') {
            out += {'\\', 'x', digits[b >> 4], digits[b & 0x0f]};
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Everything a segment reports, on one line.
std::string show(const Segment& s) {
    // Appended piece by piece: g++ 12 at -O3 warns falsely on `"#" + std::string`.
    std::string out = "#";
    out += std::to_string(s.index());
    out += s.terminated() ? " T " : " U ";
    out += quote(s.raw());
    out += " id=";
    out += quote(s.id());
    for (const auto& e : s.elements()) {
        if (!e.is_composite()) {
            out += ' ';
            out += quote(e.value().bytes());
            continue;
        }
        out += " {";
        for (const auto& c : e.components()) {
            out += quote(c.bytes()) + ",";
        }
        out += "}";
    }
    return out;
}

std::vector<std::string> frames(std::string_view input, const Delimiters& d) {
    std::vector<std::string> out;
    for (auto cut = remitrax::first_frame(input, d); cut;
         cut = remitrax::next_frame(cut->rest, d)) {
        out.push_back(quote(cut->frame.raw) + " " + quote(cut->frame.body) +
                      (cut->frame.terminated ? " T" : " U"));
    }
    return out;
}

struct Walk {
    std::vector<std::string> segments;
    std::string raw;  // the raw bytes of all segments, joined
};

// Drains a Tokenizer or a document's Segments, which must then stay at their end.
template <class Source>
Walk walk(Source source) {
    Walk out;
    while (const auto s = source.next()) {
        out.segments.push_back(show(*s));
        out.raw += s->raw();
    }
    EXPECT_EQ(source.next(), std::nullopt);
    EXPECT_EQ(source.next(), std::nullopt);
    return out;
}

const std::string bom = "\xEF\xBB\xBF";
const std::string header = "ISA*00**00**ZZ*A*ZZ*B*200101*1200*^*00501*1*0*P*:~";

TEST(Frames, EveryByteBelongsToOneFrame) {
    const struct {
        std::string input;
        std::optional<char> release;
        std::vector<std::string> expected;
    } cases[] = {
        {"", {}, {}},
        {"ISA*1~\r\nGS*2~", {}, {R"("ISA*1~" "ISA*1" T)", R"("\r\nGS*2~" "GS*2" T)"}},
        {bom + " \tST~SE~", {}, {R"("\xef\xbb\xbf \x09ST~" "ST" T)", R"("SE~" "SE" T)"}},
        {"A~B", {}, {R"("A~" "A" T)", R"("B" "B" U)"}},
        {"A~\r\n", {}, {R"("A~" "A" T)", R"("\r\n" "" U)"}},
        {"A~~B~", {}, {R"("A~" "A" T)", R"("~" "" T)", R"("B~" "B" T)"}},
        {" \r\n", {}, {R"(" \r\n" "" U)"}},
        // Vertical tab is data, and so is a byte order mark after the first byte.
        {"\v A~", {}, {R"("\x0b A~" "\x0b A" T)"}},
        {"A~" + bom + "B~", {}, {R"("A~" "A" T)", R"("\xef\xbb\xbfB~" "\xef\xbb\xbfB" T)"}},
        // A release byte escapes the next byte, even a terminator or another release byte.
        {"A?~B~C", '?', {R"("A?~B~" "A?~B" T)", R"("C" "C" U)"}},
        {"A~B?", '?', {R"("A~" "A" T)", R"("B?" "B?" U)"}},
        {"A~B?~", '?', {R"("A~" "A" T)", R"("B?~" "B?~" U)"}},
        {"A??~B", '?', {R"("A??~" "A??" T)", R"("B" "B" U)"}},
        {" ?~A~", '?', {R"(" ?~A~" "?~A" T)"}},
        // A release byte equal to the terminator escapes every terminator.
        {" A~B~C", '~', {R"(" A~B~C" "A~B~C" U)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(quote(c.input));
        EXPECT_EQ(frames(c.input, Delimiters{'*', ':', '~', {}, c.release}), c.expected);
    }
    const std::string later = bom + "A~";
    EXPECT_EQ(remitrax::next_frame(later, Delimiters{})->frame.body, bom + "A");
}

TEST(Tokenizer, FirstSegmentKeepsTriviaAndATrailingLineBreakIsOneMoreSegment) {
    const std::string input = bom + "\r\n" + header + "\r\nGS*HP*A~ST*835*1~\r\n";
    const auto tokenizer = remitrax::Tokenizer::create(input);
    ASSERT_TRUE(tokenizer.has_value()) << tokenizer.error().to_string();
    EXPECT_EQ(tokenizer->delimiters(), (Delimiters{'*', ':', '~', '^', {}}));
    const std::vector<std::string> expected = {
        R"(#0 T "\xef\xbb\xbf\r\n)" + header +
            R"(" id="ISA" "00" "" "00" "" "ZZ" "A" "ZZ" "B" "200101" "1200" "^" "00501" "1" "0")"
            R"( "P" {"","",})",
        R"(#1 T "\r\nGS*HP*A~" id="GS" "HP" "A")",
        R"(#2 T "ST*835*1~" id="ST" "835" "1")",
        R"(#3 U "\r\n" id="")",
    };
    EXPECT_EQ(walk(*tokenizer).segments, expected);

    const auto document = Document::parse(Buffer::copy_of(input));
    ASSERT_TRUE(document.has_value()) << document.error().to_string();
    EXPECT_EQ(walk(document->segments()).segments, expected);

    EXPECT_EQ(remitrax::Tokenizer("", Delimiters{}).next(), std::nullopt);
}

TEST(Document, IndexAndSpans) {
    const struct {
        std::string input;
        std::vector<std::string> spans;
    } cases[] = {
        {"A*1~\r\nB~~C",
         {"0-4 body 0-3 T", "4-8 body 6-7 T", "8-9 body 8-8 T", "9-10 body 9-10 U"}},
        {bom + "A~\r\n", {"0-5 body 3-4 T", "5-7 body 7-7 U"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(quote(c.input));
        const auto document = Document::with_delimiters(Buffer::copy_of(c.input), Delimiters{});
        ASSERT_TRUE(document.has_value());
        std::vector<std::string> spans;
        for (std::size_t i = 0; i < document->size(); ++i) {
            const auto sp = *document->span(i);
            spans.push_back(std::to_string(sp.start) + "-" + std::to_string(sp.end) + " body " +
                            std::to_string(sp.body_start) + "-" + std::to_string(sp.body_end) +
                            (sp.terminated ? " T" : " U"));
        }
        EXPECT_EQ(spans, c.spans);
        const std::size_t n = document->size();
        EXPECT_EQ(document->span(n), std::nullopt);
        EXPECT_FALSE(document->frame(n).has_value());
        EXPECT_EQ(document->segment(n), std::nullopt);
        EXPECT_EQ(document->index(), remitrax::document::index(c.input, Delimiters{}).value());
        if (n != 0) {
            EXPECT_EQ(document->span(n - 1)->end, c.input.size());
        }
    }
}

TEST(Document, ErrorTexts) {
    const struct {
        std::string input;
        std::string message;
    } cases[] = {
        {"", "input does not start with an ISA segment (input is empty)"},
        {" GS*HP",
         "input does not start with an ISA segment (found bytes [47 53 2a 48 50] after "
         "skipping 1 byte of whitespace)"},
    };
    for (const auto& c : cases) {
        const auto document = Document::parse(Buffer::copy_of(c.input));
        ASSERT_FALSE(document.has_value());
        ASSERT_TRUE(std::holds_alternative<remitrax::IsaError>(document.error().kind));
        EXPECT_EQ(document.error().to_string(), c.message);
        const auto tokenizer = remitrax::Tokenizer::create(c.input);
        ASSERT_FALSE(tokenizer.has_value());
        EXPECT_EQ(tokenizer.error().to_string(), c.message);
    }
    const std::string too_long =
        "input of 4294967296 bytes exceeds the document size limit of 4294967295 bytes "
        "(segment offsets are stored as 32-bit integers)";
    EXPECT_EQ(remitrax::SizeError{4294967296u}.to_string(), too_long);
    EXPECT_EQ(remitrax::DocumentError{remitrax::SizeError{4294967296u}}.to_string(), too_long);
}

// The body of a frame rebuilt from the parsed id and elements; exact when there is no
// release character.
std::string rebuild(const Segment& s, const Delimiters& d) {
    std::string out(s.id());
    for (const auto& e : s.elements()) {
        out += d.element;
        if (!e.is_composite()) {
            out += e.value().bytes();
            continue;
        }
        for (std::size_t i = 0; i < e.components().size(); ++i) {
            if (i != 0) {
                out += d.component;
            }
            out += e.components()[i].bytes();
        }
    }
    return out;
}

TEST(Framing, RandomInputsRoundTripAndBothRoadsAgree) {
    const auto pick = [](std::mt19937& rng, std::string_view from) {
        return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
    };
    for (unsigned seed = 0; seed < 2000; ++seed) {
        std::mt19937 rng(seed);
        Delimiters d{pick(rng, "*|^\x1d"), pick(rng, ":>\\\x1f"), pick(rng, "~'\n\x1c"), {}, {}};
        // Half the inputs have no release character; a few have one equal to a separator.
        const std::optional<char> releases[] = {{}, {}, {}, {}, '?', '?', d.segment, d.element};
        d.release = releases[std::uniform_int_distribution<std::size_t>(0, 7)(rng)];
        const std::string delimiters{d.element, d.component, d.segment, '?'};
        const std::string alphabet = "AB1 \t\r\n\v\xEF\xBB\xBF" + std::string(1, '\0') +
                                     delimiters + delimiters + delimiters;
        std::string input = pick(rng, "bnnn") == 'b' ? bom : "";
        const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 60)(rng);
        for (std::size_t i = 0; i < length; ++i) {
            input += pick(rng, alphabet);
        }
        if (pick(rng, "ty") == 't') {
            input += d.segment;
        }
        const std::string_view trailers[] = {"", "", "\r\n", " ", "\n"};
        input += trailers[std::uniform_int_distribution<std::size_t>(0, 4)(rng)];
        SCOPED_TRACE("seed " + std::to_string(seed) + " input " + quote(input));

        const Walk tokens = walk(remitrax::Tokenizer(input, d));
        ASSERT_EQ(tokens.raw, input);
        const auto document = Document::with_delimiters(Buffer::copy_of(input), d);
        ASSERT_TRUE(document.has_value());
        const Walk segments = walk(document->segments());
        ASSERT_EQ(segments.raw, input);
        ASSERT_EQ(segments.segments, tokens.segments);
        EXPECT_EQ(document->index(), remitrax::document::index(input, d).value());
        EXPECT_EQ(document->size() == 0, input.empty());

        for (std::size_t i = 0; i < document->size(); ++i) {
            const Segment s = document->segment(i).value();
            ASSERT_EQ(s.index(), i);
            const auto span = document->span(i).value();
            EXPECT_EQ(document->bytes().substr(span.start, span.end - span.start), s.raw());
            // Only the last segment may lack a terminator, and a terminated one ends in it.
            EXPECT_TRUE(s.terminated() ? s.raw().back() == d.segment : i + 1 == document->size());
            if (!d.release) {
                std::string_view body = s.raw().substr(i == 0 && s.raw().starts_with(bom) ? 3 : 0);
                body.remove_prefix(std::min(body.size(), body.find_first_not_of(" \t\r\n")));
                body.remove_suffix(s.terminated() ? 1 : 0);
                EXPECT_EQ(rebuild(s, d), body) << show(s);
            }
        }
    }
}

TEST(Document, IndexOfLongInputsAgreesWithTheFrames) {
    // Inputs long enough that segments and runs of trivia cross the index's blocks of 64
    // bytes, with terminators at their edges, several in a row and none at all.
    for (unsigned seed = 0; seed < 3000; ++seed) {
        std::mt19937 rng(seed);
        const std::string terminators = "~\n\x1c";
        const Delimiters d{'*', ':', terminators[seed % terminators.size()], {}, {}};
        const std::string alphabet = std::string("AB1*:  \r\n\t") + d.segment + d.segment;
        std::string input = seed % 7 == 0 ? bom : "";
        const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 400)(rng);
        const std::size_t period = std::uniform_int_distribution<std::size_t>(1, 80)(rng);
        for (std::size_t i = 0; i < length; ++i) {
            // Some inputs are long runs with a terminator every `period` bytes.
            const bool regular = seed % 3 == 0;
            input += regular ? (i % period == period - 1 ? d.segment : 'A')
                             : alphabet[std::uniform_int_distribution<std::size_t>(
                                   0, alphabet.size() - 1)(rng)];
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + " input " + quote(input));
        std::vector<remitrax::Body> frames;
        std::string_view rest = input;
        for (auto cut = remitrax::first_frame(rest, d); cut; cut = remitrax::next_frame(rest, d)) {
            const auto start = static_cast<std::size_t>(cut->frame.body.data() - input.data());
            frames.push_back({static_cast<std::uint32_t>(start),
                              static_cast<std::uint32_t>(start + cut->frame.body.size())});
            rest = cut->rest;
        }
        EXPECT_EQ(remitrax::document::index(input, d).value(), frames);
    }
}

TEST(SampleFiles, DocumentAndTokenizerAgree) {
    REMITRAX_SKIP_WITHOUT_SAMPLES();
    const std::filesystem::path folder = remitrax::testing::sample_folder();
    std::size_t parsed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        SCOPED_TRACE(entry.path().filename().string());
        std::string bytes(entry.file_size(), '\0');
        std::ifstream file(entry.path(), std::ios::binary);
        ASSERT_TRUE(file.read(bytes.data(), static_cast<std::streamsize>(bytes.size())));
        const auto document = Document::parse(Buffer::copy_of(bytes));
        const auto tokenizer = remitrax::Tokenizer::create(bytes);
        ASSERT_EQ(document.has_value(), tokenizer.has_value());
        if (!document) {
            EXPECT_EQ(document.error().to_string(), tokenizer.error().to_string());
            continue;
        }
        ++parsed;
        EXPECT_EQ(document->delimiters(), tokenizer->delimiters());
        const Walk segments = walk(document->segments());
        EXPECT_EQ(segments.raw, bytes);
        EXPECT_EQ(segments.segments, walk(*tokenizer).segments);
    }
    EXPECT_GT(parsed, 0u);
}

}  // namespace
