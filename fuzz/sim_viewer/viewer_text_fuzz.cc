// A line of the viewer's CSV as a script reads it back, and a time as the viewer takes it:
// whatever the bytes, a line that splits is written again by the viewer's quoting into the
// same fields, and a time that parses is shown and taken back as itself (to the millisecond).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "viewer/csv_text.h"
#include "viewer/time_text.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Records end at LF, so a line holds none outside quotes; the reader is given the rest.
    if (const auto fields = viewer::csv::split(text)) {
        std::string line;
        for (std::size_t i = 0; i < fields->size(); ++i) line += (i > 0 ? "," : "") + viewer::csv::field((*fields)[i]);
        check(viewer::csv::split(line) == fields);
    }

    using viewer::time_text::Zone;
    for (const Zone zone : {Zone::kUtc, Zone::kLocal}) {
        const auto micros = viewer::time_text::parse(text, zone);
        if (!micros) continue;
        check(*micros <= 0xFFFFFFFFull * 1'000'000u + 999'999u);
        const std::string shown = viewer::time_text::format(*micros, zone);
        check(viewer::time_text::parse(shown, zone) == *micros / 1000u * 1000u);
    }
    return 0;
}
