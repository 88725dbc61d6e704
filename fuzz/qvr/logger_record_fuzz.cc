// A standard or republisher logger record as a file or another program left it: hostile
// password counts, texts without a terminating zero, any byte anywhere.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qvr/logger_config/logger_layout.h"
#include "qvr/logger_config/logger_mirror.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qvr::logger;
    std::vector<std::uint8_t> stand(kStandRecordSize, 0);
    if (size != 0) std::memcpy(stand.data(), data, std::min(size, stand.size()));
    std::string bad;
    auto raw = stand;
    (void)fill_second_layout(raw, bad);

    // Texts written from any record always load back.
    fill_typed_fields(stand);
    if (fill_second_layout(stand, bad) != 0) std::abort();

    std::vector<std::uint8_t> repub(kRepubRecordSize, 0);
    if (size != 0) std::memcpy(repub.data(), data, std::min(size, repub.size()));
    fill_repub_cycle_codes(repub);
    return 0;
}
