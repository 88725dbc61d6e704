#include "scan_layouts.h"

#include <algorithm>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "tolva_sc/value_convert.h"

namespace scan_bench {
namespace {

using tolva::file_type::kBinary;
using tolva::file_type::kFloat;
using tolva::file_type::kInteger;
using tolva::file_type::kTimer;

constexpr uint16_t kFileElements = 250;
constexpr int16_t kNoMnemonic = -1;
constexpr int16_t kTimerDone = 2;

qvr::ChannelRecord make(qvr::ChannelKind kind, uint8_t station, int8_t type, uint16_t file, int element,
                        int sub = -1, int16_t mnemonic = kNoMnemonic) {
    qvr::ChannelRecord r{};
    r.head.Type = kind;
    r.head.Flags.set(qvr::AnalogFlag::Enable, true);
    tolva::ChannelHwRecord hw{};
    hw.StationNumber = station;
    hw.FileType = type;
    hw.FileNumber = static_cast<int16_t>(file);
    hw.ElementNumber = static_cast<int16_t>(element);
    hw.SubElementNumber = static_cast<int16_t>(sub);
    hw.MnemonicNumber = mnemonic;
    hw.SlotNumber = static_cast<int16_t>(element);
    tolva::write_channel_hw(r.bytes, hw);
    if (!qvr::is_digital(kind)) r.analog.Gain = 1.0f;
    return r;
}

// Cheapest cover of sorted element numbers of one file: dp over the last command's start.
int64_t cover(const std::vector<int>& elements, int size) {
    const size_t n = elements.size();
    std::vector<int64_t> best(n + 1, std::numeric_limits<int64_t>::max());
    best[0] = 0;
    for (size_t j = 1; j <= n; ++j) {
        for (size_t i = j; i >= 1; --i) {
            const int bytes = (elements[j - 1] - elements[i - 1] + 1) * size;
            if (bytes > kMaxBlockBytes) break;
            best[j] = std::min(best[j], best[i - 1] + bytes + kCommandOverhead);
        }
    }
    return best[n];
}

}  // namespace

Layout contiguous_words(qvr::ChannelKind kind, int count, uint16_t first_file) {
    Layout layout;
    for (int i = 0; i < count; ++i) {
        const auto file = static_cast<uint16_t>(first_file + i / kFileElements);
        if (i % kFileElements == 0) layout.files.push_back({1, file, kInteger, kFileElements});
        layout.channels.push_back(make(kind, 1, kInteger, file, i % kFileElements));
    }
    return layout;
}

Layout scattered_inputs(int count) {
    Layout layout;
    std::mt19937 rng(12);
    std::uniform_int_distribution<int> gap(1, 4);
    const FileSpec files[] = {{1, 7, kInteger, kFileElements}, {1, 8, kFloat, kFileElements},
                              {2, 7, kInteger, kFileElements}, {2, 10, kInteger, kFileElements},
                              {1, 11, kInteger, kFileElements}, {2, 12, kFloat, kFileElements}};
    std::vector<qvr::ChannelRecord> channels;
    for (int round = 0; static_cast<int>(channels.size()) < count; ++round) {
        const FileSpec& f = files[static_cast<size_t>(round) % std::size(files)];
        if (round < static_cast<int>(std::size(files))) {
            layout.files.push_back(f);
        } else {
            // More channels than the files take with these gaps: further files of the same kind.
            FileSpec more = f;
            more.file = static_cast<uint16_t>(20 + round);
            layout.files.push_back(more);
        }
        const FileSpec& used = layout.files.back();
        for (int e = gap(rng) - 1; e < used.elements && static_cast<int>(channels.size()) < count; e += gap(rng))
            channels.push_back(make(qvr::ChannelKind::AI, used.station, used.type, used.file, e));
    }
    std::shuffle(channels.begin(), channels.end(), rng);
    layout.channels = std::move(channels);
    return layout;
}

Layout mixed_digital_inputs(int count) {
    Layout layout;
    layout.files = {{1, 3, kBinary, kFileElements}, {1, 7, kInteger, kFileElements}, {1, 4, kTimer, 100}};
    int word = 0;
    int sparse = 0;
    int timer = 0;
    for (int i = 0; static_cast<int>(layout.channels.size()) < count; ++i) {
        switch (i % 10) {
            case 8:  // a bit of every fifth N word
                if (sparse * 5 < kFileElements) {
                    layout.channels.push_back(
                        make(qvr::ChannelKind::DI, 1, kInteger, 7, sparse * 5, sparse % 16));
                    ++sparse;
                    break;
                }
                [[fallthrough]];
            case 9:  // a timer's done bit
                if (timer < 100) {
                    layout.channels.push_back(
                        make(qvr::ChannelKind::DI, 1, kTimer, 4, timer, -1, kTimerDone));
                    ++timer;
                    break;
                }
                [[fallthrough]];
            default:
                layout.channels.push_back(make(qvr::ChannelKind::DI, 1, kBinary, 3, word / 16, word % 16));
                ++word;
        }
    }
    return layout;
}

Layout packed_bits(qvr::ChannelKind kind, int count, uint16_t first_file) {
    Layout layout;
    constexpr int kBitsPerFile = kFileElements * 16;
    for (int i = 0; i < count; ++i) {
        const auto file = static_cast<uint16_t>(first_file + i / kBitsPerFile);
        if (i % kBitsPerFile == 0) layout.files.push_back({1, file, kBinary, kFileElements});
        const int bit = i % kBitsPerFile;
        layout.channels.push_back(make(kind, 1, kBinary, file, bit / 16, bit % 16));
    }
    return layout;
}

Layout partly_owned_bits(qvr::ChannelKind kind, int count, uint16_t first_file) {
    Layout layout;
    constexpr int kBitsPerWord = 4;
    constexpr int kChannelsPerFile = kFileElements * kBitsPerWord;
    for (int i = 0; i < count; ++i) {
        const auto file = static_cast<uint16_t>(first_file + i / kChannelsPerFile);
        if (i % kChannelsPerFile == 0) layout.files.push_back({1, file, kBinary, kFileElements});
        const int n = i % kChannelsPerFile;
        layout.channels.push_back(make(kind, 1, kBinary, file, n / kBitsPerWord, 1 + 4 * (n % kBitsPerWord)));
    }
    return layout;
}

int64_t ideal_characters(const Layout& layout) {
    std::map<std::tuple<uint8_t, int16_t, int8_t>, std::set<int>> elements;
    for (const auto& r : layout.channels) {
        const auto hw = tolva::read_channel_hw(r.bytes);
        if (hw) elements[{hw->StationNumber, hw->FileNumber, hw->FileType}].insert(hw->ElementNumber);
    }
    int64_t total = 0;
    for (const auto& [key, set] : elements)
        total += cover(std::vector<int>(set.begin(), set.end()), tolva::element_size(std::get<2>(key)));
    return total;
}

}  // namespace scan_bench
