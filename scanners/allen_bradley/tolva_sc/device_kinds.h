#pragma once
// One device's channel kinds as the scanner serves them: per kind its shared modules (the
// data module's status words and values, the configuration module's channel records) and
// its private arrays. For inputs (AI, DI, CI) the scan builds status words and values in the
// private arrays and publishes them in the shared module; for outputs (AO, DO) the shared
// module holds what the host asks for and the private arrays mirror what was handled last.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "qvr/records/channel_record.h"
#include "tolva_sc/kind_handlers.h"
#include "tolva_sc/table_faults.h"

namespace tolva {

// The most channels the scanner serves per kind (AI, DI, AO, DO, CI).
inline constexpr std::array<uint16_t, kKindCount> kKindChannelLimits{10000, 10000, 10000, 10000, 0};

constexpr bool kind_is_output(int k) {
    return k == kind::kAO || k == kind::kDO;
}
constexpr bool kind_is_analog(int k) {
    return !kind_is_digital(k);
}

struct KindModules {
    int kind = 0;
    std::string code;           // two-letter module code; empty: the kind is absent
    void* data = nullptr;       // the data module, when it opened
    void* conf = nullptr;       // the configuration module, when it opened
    uint16_t count = 0;         // channels served: only ever lowered
    std::byte* value_records = nullptr;  // 264-byte records after the values, when the module holds them

    std::span<qvr::ChannelRecord> records;  // in the configuration module
    std::span<uint32_t> shared_status;      // in the data module
    std::span<float> shared_values;         // in the data module (analog kinds)

    std::vector<uint32_t> status;           // inputs: working words; outputs: mirror words
    std::vector<float> values;              // AI, CI: working values; AO: mirror values
    std::vector<float> last_significant;    // AI, AO, CI
    std::vector<float> reference;           // AI, CI
    bool changed_since_save = false;
    // Set when the kind has a code but its modules cannot be used: the kind is not served,
    // but its data module is still answered with the failure at every scan.
    std::optional<UnservedModule> unserved;

    bool data_open() const { return data != nullptr; }
    // Data and configuration module both open: the kind is initialised and scanned.
    bool open() const { return data != nullptr && conf != nullptr; }
    bool output() const { return kind_is_output(kind); }
    bool analog() const { return kind_is_analog(kind); }

    // What the scan handler works on, and the side the judged words are compared with.
    std::span<uint32_t> working_status() { return output() ? shared_status : std::span<uint32_t>(status); }
    std::span<float> working_values() {
        if (!analog()) return {};
        return output() ? shared_values : std::span<float>(values);
    }
    std::span<uint32_t> published_status() { return output() ? std::span<uint32_t>(status) : shared_status; }
    std::span<float> published_values() {
        if (!analog()) return {};
        return output() ? std::span<float>(values) : shared_values;
    }
};

using DeviceKinds = std::array<KindModules, kKindCount>;

}  // namespace tolva
