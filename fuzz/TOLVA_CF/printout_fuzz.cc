// The configuration printout over stored records of any content: a 704-byte device
// configuration and 216-byte channel records as the configuration files hold them, for
// every channel kind, on pages of any height. Nothing may crash, no line may be longer than
// the printout's width, no page may hold more lines than it has, and every page started is
// ended.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "TOLVA_CF/logic/line_printer.h"
#include "TOLVA_CF/logic/printout.h"
#include "TOLVA_CF/logic/printout_format.h"
#include "TOLVA_CF/logic/recording_print_target.h"

namespace {

void check(bool ok, const char* what = "") {
    if (ok) return;
    std::fprintf(stderr, "printout_fuzz: %s\n", what);
    std::abort();
}

class StoredRecords final : public tolva::cf::ConfigurationSource {
  public:
    int read_device_settings(std::string_view, std::string_view, tolva::cf::StoredDeviceSettings& out) override {
        out = settings;
        return 0;
    }
    int read_channels(std::string_view, std::string_view, int kind, int first_index,
                      std::span<qvr::ChannelRecord> out) override {
        check(kind >= 0 && kind < tolva::cf::kChannelKindCount && first_index >= 0);
        check(static_cast<std::size_t>(first_index) + out.size() <= tables[kind].size());
        std::copy_n(tables[kind].begin() + first_index, out.size(), out.begin());
        return 0;
    }
    tolva::cf::StoredDeviceSettings settings;
    std::vector<qvr::ChannelRecord> tables[tolva::cf::kChannelKindCount];
};

void check_pages(const tolva::cf::RecordingPrintTarget& printer, int lines, int result) {
    check(!printer.misplaced_text, "text off the line grid");
    if (result == 0) check(printer.open_pages == 0, "a page left open");
    for (const auto& page : printer.pages) {
        // The device block alone is never broken; listings keep within the page.
        check(page.size() <= static_cast<std::size_t>(std::max(lines, 19)), "a page beyond its lines");
        for (const auto& line : page) {
            if (line.size() > tolva::cf::kMaxPrintoutLine) std::fprintf(stderr, "%s\n", line.c_str());
            check(line.size() <= tolva::cf::kMaxPrintoutLine, "a line beyond the width");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Head: page lines, port number, per kind a code byte pair and a count, the auto-enable
    // byte and the autosave settings; then the configuration record and the channel records,
    // shared out over the kinds.
    constexpr std::size_t kHead = 25;
    if (size < kHead + sizeof(tolva::DeviceConfigRecord)) return 0;
    const int lines = data[0] % 40;
    tolva::HostDeviceRecord device{};
    std::memcpy(&device.PortNumber, data + 1, 2);
    std::memcpy(device.DeviceName, "DEV", 3);
    StoredRecords source;
    source.settings.auto_enable = data[18];
    source.settings.save_outputs = data[19];
    source.settings.save_by_tag = data[20];
    std::memcpy(&source.settings.save_rate, data + 21, 4);
    std::memcpy(&source.settings.config, data + kHead, sizeof source.settings.config);

    std::span<const std::uint8_t> rest(data + kHead + sizeof(tolva::DeviceConfigRecord),
                                       size - kHead - sizeof(tolva::DeviceConfigRecord));
    std::vector<qvr::ChannelRecord> records;
    while (rest.size() >= qvr::kChannelRecordSize && records.size() < 64) {
        records.emplace_back();
        std::memcpy(records.back().bytes, rest.data(), qvr::kChannelRecordSize);
        rest = rest.subspan(qvr::kChannelRecordSize);
    }
    for (int kind = 0; kind < tolva::cf::kChannelKindCount; ++kind) {
        const std::uint8_t* entry = data + 3 + 3 * kind;
        device.Kinds[kind].ModuleCode[0] = static_cast<char>(entry[0]);
        device.Kinds[kind].ModuleCode[1] = static_cast<char>(entry[1]);
        const int count = records.empty() ? 0 : entry[2] % 9;
        for (int i = 0; i < count; ++i) {
            qvr::ChannelRecord record = records[(static_cast<std::size_t>(kind) * 7 + static_cast<std::size_t>(i)) %
                                                records.size()];
            source.tables[kind].push_back(record);
        }
        device.Kinds[kind].ChannelCount = static_cast<std::uint16_t>(count);
    }

    tolva::cf::RecordingPrintTarget from_server(lines);
    const int all = tolva::cf::print_all_config(from_server.target(), {"SERVER", &device, 0, false, false, 0, nullptr,
                                                                       nullptr},
                                                source);
    check(all == 0 || all == -1);
    check_pages(from_server, lines, all);

    const tolva::DeviceConfigRecord& config = source.settings.config;
    const qvr::ChannelRecord* tables[tolva::cf::kChannelKindCount];
    for (int kind = 0; kind < tolva::cf::kChannelKindCount; ++kind) tables[kind] = source.tables[kind].data();
    tolva::cf::RecordingPrintTarget given(lines);
    const int with_records = tolva::cf::print_all_config(
        given.target(), {"SERVER", &device, data[18], data[19] != 0, data[20] != 0, 1500, &config, tables}, source);
    check(with_records == all);
    check_pages(given, lines, with_records);

    for (int kind = 0; kind < tolva::cf::kChannelKindCount; ++kind) {
        tolva::cf::RecordingPrintTarget one(lines);
        const int first = data[1] % 4;
        const int last = data[2] % 10;
        const int result = tolva::cf::print_kind_config(one.target(), {"SERVER", &device, kind, first, last, nullptr},
                                                        source);
        check(result == 0 || result == -1);
        check_pages(one, lines, result);
    }
    return 0;
}
