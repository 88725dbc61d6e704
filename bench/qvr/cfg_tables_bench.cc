// Saving and loading channel tables of 1,000 and 10,000 channels, binary and XML (rewrite
// and update in place). Printed per channel: the time must not grow with the table.
#include <stdlib.h>

#include <algorithm>
#include <cfloat>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/registry_key.h"
#include "qvr/config/cfg_audit.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/settings/reg.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<qvr::ChannelRecord> table(int count) {
    std::vector<qvr::ChannelRecord> records(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        qvr::ChannelRecord& r = records[static_cast<std::size_t>(i)];
        r.head.Type = qvr::ChannelKind::AI;
        qvr::split_text(r, qvr::ChannelText::Tag, "TAG" + std::to_string(i));
        qvr::split_text(r, qvr::ChannelText::Description, "boiler " + std::to_string(i) + " temperature");
        qvr::split_text(r, qvr::ChannelText::Units, "degC");
        r.analog.Flags.set(qvr::AnalogFlag::Enable, true);
        r.analog.Flags.set(qvr::AnalogFlag::EventEnable, true);
        r.analog.Flags.set(qvr::AnalogFlag::HighAlarmEnable, true);
        r.analog.LowEventLimit = -FLT_MAX;
        r.analog.HighEventLimit = FLT_MAX;
        r.analog.HighAlarmLimit = 95.5f + static_cast<float>(i);
        std::strcpy(r.analog.HighAlarmText, "too hot");
    }
    return records;
}

// Best of `runs`, in microseconds per channel.
double per_channel_us(int runs, int channels, const std::function<bool()>& step) {
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        if (!step()) {
            std::fprintf(stderr, "step failed (errno %d)\n", errno);
            std::exit(1);
        }
        best = std::min(best, std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return best / channels;
}

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/cfgbench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path root = pattern;
    fs::create_directories(root / "registry");
    setenv("BREVANTIC_REGISTRY_DIR", (root / "registry").c_str(), 1);
    setenv("QVR_CURRENT_CONFIG", (root / "CURRENT_CONFIG").c_str(), 1);
    platform::RegistryKey key;
    if (platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess,
                                      key) != 0 ||
        key.set_string("ReadXML", "ON") != 0 || key.set_string("WriteXML", "XML") != 0)
        return 1;
    audit_SetEnabled(0);
    const std::string binary = (root / "CURRENT_CONFIG" / "tolva_1").string();
    const std::string xml = (root / "CURRENT_CONFIG" / "fzall_1").string();  // the full test plug-in
    fs::create_directories(binary);
    fs::create_directories(xml);

    // Table sizes: the arguments, else 1,000 and 10,000.
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::max(1, std::atoi(argv[i])));
    if (sizes.empty()) sizes = {1000, 10000};
    struct Row {
        const char* name;
        std::vector<double> at;
    };
    std::vector<Row> rows = {{"binary save", {}},
                             {"binary load", {}},
                             {"XML save (rewrite)", {}},
                             {"XML save (update in place)", {}},
                             {"XML load", {}}};
    for (Row& r : rows) r.at.resize(sizes.size());
    for (std::size_t s = 0; s < sizes.size(); ++s) {
        const int n = sizes[s];
        const int runs = n <= 2000 ? 5 : 2;
        const std::vector<qvr::ChannelRecord> records = table(n);
        std::vector<qvr::ChannelRecord> back(static_cast<std::size_t>(n));
        rows[0].at[s] = per_channel_us(runs, n, [&] {
            return cfg_SaveChannelsRewrite(nullptr, binary.c_str(), 0, records.data(), 0, n, nullptr, 0,
                                           nullptr) == 0;
        });
        rows[1].at[s] = per_channel_us(runs, n, [&] {
            return cfg_LoadChannels(binary.c_str(), 0, back.data(), 0, n, nullptr, 0, nullptr) == 0;
        });
        rows[2].at[s] = per_channel_us(runs, n, [&] {
            return cfg_SaveChannelsRewrite(nullptr, xml.c_str(), 0, records.data(), 0, n, nullptr, 0,
                                           nullptr) == 0;
        });
        rows[3].at[s] = per_channel_us(runs, n, [&] {
            return cfg_SaveChannelsUpdate(nullptr, xml.c_str(), 0, records.data(), 0, n, nullptr, 0,
                                          nullptr) == 0;
        });
        rows[4].at[s] = per_channel_us(runs, n, [&] {
            return cfg_LoadChannels(xml.c_str(), 0, back.data(), 0, n, nullptr, 0, nullptr) == 0;
        });
        if (std::memcmp(back.data(), records.data(), records.size() * sizeof(qvr::ChannelRecord)) != 0) {
            std::fprintf(stderr, "the XML table did not load back\n");
            return 1;
        }
    }
    std::printf("%-28s", "us per channel");
    for (int n : sizes) std::printf(" %10d", n);
    std::printf("  last/first\n");
    for (const Row& r : rows) {
        std::printf("%-28s", r.name);
        for (double v : r.at) std::printf(" %10.2f", v);
        std::printf("  %10.2f\n", r.at.back() / r.at.front());
    }
    fs::remove_all(root);
    return 0;
}
