// A fuzzed spec that loads drives a processor over a remittance: nothing it declares may
// crash, fault or hang the processing, and both roads still agree. The input is the spec text,
// then optionally a NUL byte and the X12 bytes to read; without one, a small remittance is read.
// Hangs are found by the fuzzer's time limit per input (-timeout).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz.hpp"

namespace {

constexpr std::string_view remittance =
    "ISA*00*          *00*          *ZZ*PAYER          *ZZ*PROVIDER       *261203*1200*^*00501*"
    "000000001*0*P*:~GS*HP*PAYER*PROVIDER*20261203*1200*1*X*005010X221A1~ST*835*0001~"
    "BPR*I*150.00*C*ACH*CCP*01*071000013*DA*123456789*1512345678**01*072000326*DA*98765*"
    "20261203~TRN*1*12345*1512345678~DTM*405*20261201~N1*PR*PAYER PLAN*XV*P01~N3*1 MAIN ST~"
    "N4*SPRINGFIELD*IL*62701~N1*PE*CLINIC*XX*1234567893~LX*1~CLP*PCN1*1*200*150*50*12*CN1*11*1~"
    "CAS*PR*1*50~NM1*QC*1*DOE*JANE****MI*M1~DTM*232*20261101~SVC*HC:99213*200*150**1~"
    "DTM*472*20261101~CAS*CO*45*25*1*PR*2*25~AMT*B6*175~PLB*1234567893*20261231*WO:X1*-10~"
    "SE*19*0001~GE*1*1~IEA*1*000000001~";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace remitrax;
    std::string_view text = fuzz::as_text(data, size);
    std::string_view x12 = remittance;
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        x12 = text.substr(nul + 1);
        text = text.substr(0, nul);
    }
    const auto spec = Spec::from_json(text);
    if (!spec) {
        return 0;
    }
    const auto input = fuzz::input_of(x12);
    if (!input) {
        return 0;
    }
    const Document document = fuzz::document_of(*input);
    const fuzz::Outcome whole = fuzz::run_whole(*spec, document);
    const fuzz::Outcome segments = fuzz::run_segments(*spec, fuzz::tokenizer_of(*input), {});
    fuzz::check(segments.diagnostics == whole.diagnostics && segments.tables == whole.tables,
                "a segment at a time gives what the whole document gives");
    return 0;
}
