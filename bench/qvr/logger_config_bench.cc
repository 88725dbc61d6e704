// Loading and saving a full standard logger (every text filled, all 64 log and event
// channels) as XML. Regression guard: under 20 ms each.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry_key.h"
#include "qvr/config/cfg_audit.h"
#include "qvr/logger_config/logger_config.h"
#include "qvr/logger_config/logger_layout.h"
#include "qvr/settings/reg.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace qvr::logger;

void put_text(std::vector<std::uint8_t>& r, std::size_t at, std::size_t room, const std::string& text) {
    std::memcpy(&r[at], text.data(), std::min(text.size(), room - 1));
}

std::vector<std::uint8_t> full_standard_logger() {
    std::vector<std::uint8_t> r(kStandRecordSize, 0);
    for (const LoggerField& f : kStandFields) {
        switch (f.kind) {
            case FieldKind::text:
                // The password texts are hexadecimal; the second layout gives them below.
                if (f.size != 514) put_text(r, f.offset, f.size, std::string(f.size / 2, 'k'));
                break;
            case FieldKind::boolean1:
            case FieldKind::boolean4:
            case FieldKind::boolean32:
            case FieldKind::enum1:
            case FieldKind::enum4: r[f.offset] = 1; break;
            case FieldKind::u8:
            case FieldKind::u16:
            case FieldKind::u32: r[f.offset] = 42; break;
            case FieldKind::time_with_year: r[f.offset] = 126, r[f.offset + 1] = 12, r[f.offset + 2] = 11; break;
            case FieldKind::time_no_year: r[f.offset + 2] = 1; break;
            default: break;
        }
    }
    namespace m = stand_mirror;
    for (std::size_t i = 0; i < kChannelCount; ++i) {
        put_text(r, m::kSources + 33 * i, 33, "SOURCE.LOGGER." + std::to_string(i));
        put_text(r, m::kLogTags + 30 * i, 15, "TAG" + std::to_string(i) + ".PV");
        put_text(r, m::kLogTags + 30 * i + 15, 15, "TAG" + std::to_string(i) + ".SP");
        put_text(r, m::kEventTags + 30 * i, 15, "EV" + std::to_string(i) + ".A");
        put_text(r, m::kEventTags + 30 * i + 15, 15, "EV" + std::to_string(i) + ".B");
        const std::uint8_t range[6] = {'A', 0, static_cast<std::uint8_t>(i), 0, static_cast<std::uint8_t>(i + 8), 0};
        std::memcpy(&r[m::kLogRanges + 6 * i], range, 6);
        std::memcpy(&r[m::kEventRanges + 6 * i], range, 6);
        r[m::kAverage + 4 * i] = i % 2;
        r[m::kLag + 4 * i] = 1;
        r[m::kRecalc + i] = 1;
    }
    for (std::size_t p = 0; p < 3; ++p) {
        r[m::kPasswordCounts[p]] = 255;
        for (std::size_t b = 0; b < 255; ++b) r[m::kPasswordBytes[p] + b] = static_cast<std::uint8_t>(b);
    }
    r[m::kExportFlags] = 0xA5;
    return r;
}

// Best of `runs`, in milliseconds.
double best_ms(int runs, const std::function<bool()>& step) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (!step()) {
            std::fprintf(stderr, "step failed (errno %d)\n", errno);
            std::exit(1);
        }
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/loggerbench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path root = pattern;
    fs::create_directories(root / "registry");
    fs::create_directories(root / "CURRENT_CONFIG" / "LOGGERS");
    setenv("BREVANTIC_REGISTRY_DIR", (root / "registry").c_str(), 1);
    setenv("QVR_CURRENT_CONFIG", (root / "CURRENT_CONFIG").c_str(), 1);
    platform::RegistryKey key;
    if (platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess,
                                      key) != 0 ||
        key.set_string("ReadXML", "ON") != 0 || key.set_string("WriteXML", "XML") != 0)
        return 1;
    const std::string dir = (root / "CURRENT_CONFIG" / "LOGGERS").string();
    const std::vector<std::uint8_t> record = full_standard_logger();
    std::vector<std::uint8_t> back(kStandRecordSize);
    constexpr int kRuns = 20;

    audit_SetEnabled(0);
    const double save = best_ms(kRuns, [&] {
        return cfg_SaveLoggerConfig(dir.c_str(), "bench", "stand", 1, record.data(), kStandRecordSize) == 0;
    });
    const double load = best_ms(kRuns, [&] {
        return cfg_LoadLoggerConfig(dir.c_str(), "stand", 1, back.data(), kStandRecordSize) == 0;
    });
    audit_SetEnabled(1);
    const double audited = best_ms(kRuns, [&] {
        return cfg_SaveLoggerConfig(dir.c_str(), "bench", "stand", 1, record.data(), kStandRecordSize) == 0;
    });
    const auto xml_bytes = fs::file_size(fs::path(dir) / "stand_1.xml");
    std::printf("full standard logger as XML (%ju bytes, best of %d)\n", static_cast<std::uintmax_t>(xml_bytes), kRuns);
    std::printf("  save              %7.2f ms  (target < 20 ms)\n", save);
    std::printf("  load              %7.2f ms  (target < 20 ms)\n", load);
    std::printf("  save, audit on    %7.2f ms  (reads the old file first)\n", audited);
    fs::remove_all(root);
    return save < 20.0 && load < 20.0 ? 0 : 2;
}
