// Any bytes, indexed: the frames of the document, and the segments a tokenizer reads from the
// same bytes, hold every input byte once and in order, and both roads split each segment alike.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz.hpp"

namespace {

using namespace remitrax;
using remitrax::fuzz::check;

// The id and the unescaped values, with a separator the values cannot confuse: each value is
// preceded by its length.
std::string shape_of(const Segment& segment) {
    std::string out(segment.id());
    const auto value = [&](std::string_view bytes) {
        out += '|' + std::to_string(bytes.size()) + ':';
        out += bytes;
    };
    for (const Element& element : segment.elements()) {
        out += element.is_composite() ? 'C' : 'S';
        if (element.is_composite()) {
            for (const Value& component : element.components()) {
                value(component.bytes());
            }
        } else {
            value(element.value().bytes());
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::input_of(fuzz::as_text(data, size));
    if (!input) {
        return 0;
    }
    const Document document = fuzz::document_of(*input);
    check(document.bytes() == input->bytes, "the document keeps the input bytes");

    std::string framed;
    for (std::size_t i = 0; i < document.size(); ++i) {
        framed += document.frame_at(i).raw;
    }
    check(framed == input->bytes, "the frames of the index hold the input", framed);

    Tokenizer tokenizer = fuzz::tokenizer_of(*input);
    std::string tokenized;
    std::size_t count = 0;
    Segment segment;
    while (tokenizer.next(segment)) {
        check(count < document.size(), "the tokenizer reads no more segments than the index");
        const std::optional<Segment> indexed = document.segment(count);
        check(indexed.has_value(), "every indexed segment parses");
        check(indexed->raw() == segment.raw(), "both roads frame a segment alike");
        check(shape_of(*indexed) == shape_of(segment), "both roads split a segment alike",
              shape_of(segment));
        tokenized += segment.raw();
        ++count;
    }
    check(count == document.size(), "the tokenizer reads as many segments as the index");
    check(tokenized == input->bytes, "the segments of the tokenizer hold the input", tokenized);
    return 0;
}
