#include "tolva_sc/port_statistics.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/host/chan.h"
#include "qvr/host/device_modules.h"
#include "qvr/ext/ext.h"
#include "qvr/util/fixed_text.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/time/timestamp.h"

namespace tolva {

using qvr::ChannelKind;

const std::array<StatsChannelSpec, kStatsChannelsPerDevice> kStatsChannels{{
    {"ST", "STATUS", "ENABLED", "DISABLED", ChannelKind::DO},
    {"RS", "RESET COUNTS", "RESET", "NORESET", ChannelKind::DO},
    {"RB", "RECEIVE BYTES", "BYTES", "", ChannelKind::AO},
    {"RP", "RECEIVE PACKETS", "PACKETS", "", ChannelKind::AO},
    {"RT", "RECEIVE TIMEOUTS", "TIMEOUTS", "", ChannelKind::AO},
    {"RE", "RECEIVE COMM ERRORS", "ERRORS", "", ChannelKind::AO},
    {"RC", "RECEIVE CRC ERRORS", "ERRORS", "", ChannelKind::AO},
    {"TB", "TRANSMIT BYTES", "BYTES", "", ChannelKind::AO},
    {"TP", "TRANSMIT PACKETS", "PACKETS", "", ChannelKind::AO},
    {"TE", "TRANSMIT ERRORS", "ERRORS", "", ChannelKind::AO},
}};

namespace {

constexpr uint32_t kAnalogBit = 0x80;

// "%1.5s_%d_%03d_%s" and its shorter forms when the number or the index is 0.
std::string stats_text(const std::string& type, uint16_t number, int index, std::string_view word) {
    char buffer[96];
    const std::string w(word);
    if (number != 0 && index != 0) {
        std::snprintf(buffer, sizeof buffer, "%1.5s_%d_%03d_%s", type.c_str(), number, index, w.c_str());
    } else if (number != 0) {
        std::snprintf(buffer, sizeof buffer, "%1.9s_%d_%s", type.c_str(), number, w.c_str());
    } else if (index != 0) {
        std::snprintf(buffer, sizeof buffer, "%1.8s_%03d_%s", type.c_str(), index, w.c_str());
    } else {
        std::snprintf(buffer, sizeof buffer, "%1.12s_%s", type.c_str(), w.c_str());
    }
    return buffer;
}

// The plug-in's port text, when it exports the entry; this device type's does not.
std::string plugin_port_text(const DeviceRecord& device) {
    std::error_code ec;
    const auto folder = std::filesystem::current_path(ec);
    if (ec) return {};
    const qvr::Extension extension = qvr::Extension::load(folder.string(), false);
    using PortEntry = void (*)(const void*, int32_t, char*);
    auto* entry = reinterpret_cast<PortEntry>(extension.entry("Ex_Get_Config_Port"));
    if (entry == nullptr) return {};
    char text[kPortTextMax + 1] = {};
    entry(&device, static_cast<int32_t>(kPortTextMax), text);
    text[kPortTextMax] = '\0';
    return text;
}

}  // namespace

void build_stats_records(std::string_view type_name, uint16_t device_number, int index,
                         std::string_view port_text, std::span<qvr::ChannelRecord, kStatsChannelsPerDevice> out) {
    std::string type(type_name.substr(0, 12));
    for (char& c : type) c = platform::ascii_upper(c);
    for (int c = 0; c < kStatsChannelsPerDevice; ++c) {
        const StatsChannelSpec& spec = kStatsChannels[static_cast<size_t>(c)];
        qvr::ChannelRecord& r = out[static_cast<size_t>(c)];
        r = qvr::ChannelRecord{};
        r.head.Type = spec.kind;
        r.head.Flags.set(qvr::AnalogFlag::Enable, true);  // bit 0x1 in both layouts
        chanrec_SetTag(&r, stats_text(type, device_number, index, spec.suffix).c_str());
        chanrec_SetDescription(&r, stats_text(type, device_number, index, spec.description).c_str());
        if (spec.kind == ChannelKind::DO) {
            std::string on(spec.on_text_or_units);
            std::string off(spec.off_text);
            if (c == 0 && index == 0 && !port_text.empty()) {
                on += " " + std::string(port_text);
                off += " " + std::string(port_text);
            }
            qvr::set_field_text(r.digital.HighStateText, sizeof r.digital.HighStateText, on);
            qvr::set_field_text(r.digital.LowStateText, sizeof r.digital.LowStateText, off);
        } else {
            chanrec_SetUnits(&r, std::string(spec.on_text_or_units).c_str());
        }
    }
}

int PortStatistics::setup(const DeviceRecord& device, std::string_view stats_code) {
    std::lock_guard lock(mutex_);
    first_publish_ = true;
    code_ = std::string(stats_code.substr(0, 2));
    port_text_ = plugin_port_text(device);

    void* data = shm_OpenDeviceData(code_.c_str());
    void* conf = data != nullptr ? shm_OpenDeviceConf(code_.c_str()) : nullptr;
    if (data == nullptr || conf == nullptr) return -1;
    const auto layout = qvr::data_module_layout(qvr::section_bytes(data), false);
    if (!layout || layout->bytes_per_channel != qvr::kAnalogBytesPerChannel) return platform::fail(EINVAL);
    qvr::ChannelRecord* records = shm_ConfRecords(data);
    const uint32_t held = std::min<uint32_t>(layout->channel_count, qvr::conf_record_count(qvr::section_bytes(conf)));
    const int n = static_cast<int>(held / kStatsChannelsPerDevice);
    if (n < 1 || records == nullptr) return platform::fail(platform::kErrorBadNetName);

    const size_t channels = static_cast<size_t>(n) * kStatsChannelsPerDevice;
    counters_.assign(channels, 0);
    status_.assign(channels, 0);
    values_.assign(channels, 0.0f);
    devices_ = n;

    if (shm_Lock(conf) != 0) return -1;
    counters_[0] = device.Attached;
    for (int i = 0; i < n; ++i) {
        const auto first = static_cast<size_t>(i) * kStatsChannelsPerDevice;
        build_stats_records(qvr::field_text(device.TypeName), device.DeviceNumber, i, port_text_,
                            std::span<qvr::ChannelRecord, kStatsChannelsPerDevice>(records + first,
                                                                                   kStatsChannelsPerDevice));
        status_[first] |= kAnalogBit;
    }
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    const auto bytes = qvr::section_bytes(data);
    std::memcpy(bytes.data() + qvr::kConfigTimeOffset, &now, sizeof now);
    shm_SignalWaiters(conf, 0);
    shm_Unlock(conf);
    set_up_ = true;
    return 0;
}

void PortStatistics::add_locked(int index, uint32_t amount, int counter) {
    if (!set_up_ || index < 0 || index >= devices_ || counter < 1 || counter > kStatsChannelsPerDevice) return;
    const auto base = static_cast<size_t>(index) * kStatsChannelsPerDevice;
    counters_[base] = 1;
    counters_[base + static_cast<size_t>(counter - 1)] += amount;
    if (index != 0) {
        counters_[0] = 1;
        counters_[static_cast<size_t>(counter - 1)] += amount;
    }
}

void PortStatistics::add(int index, uint32_t amount, int counter) {
    std::lock_guard lock(mutex_);
    add_locked(index, amount, counter);
}

void PortStatistics::add_link_counts(const LinkCounters& d) {
    std::lock_guard lock(mutex_);
    const auto add = [&](uint64_t amount, int counter) {
        if (amount != 0) add_locked(0, static_cast<uint32_t>(amount), counter);
    };
    add(d.received_bytes, stats_counter::kReceiveBytes);
    add(d.received_frames, stats_counter::kReceivePackets);
    add(d.reply_timeouts + d.ack_timeouts, stats_counter::kReceiveTimeouts);
    add(d.bad_dle_pairs + d.length_errors, stats_counter::kReceiveCommErrors);
    add(d.bcc_errors, stats_counter::kReceiveCrcErrors);
    add(d.sent_bytes, stats_counter::kTransmitBytes);
    add(d.sent_frames, stats_counter::kTransmitPackets);
    add(d.naks_received + d.write_failures, stats_counter::kTransmitErrors);
}

uint32_t PortStatistics::counter(int index, int counter) const {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= devices_ || counter < 1 || counter > kStatsChannelsPerDevice) return 0;
    return counters_[static_cast<size_t>(index) * kStatsChannelsPerDevice + static_cast<size_t>(counter - 1)];
}

void PortStatistics::publish() {
    std::lock_guard lock(mutex_);
    if (!set_up_) return;
    void* data = shm_OpenDeviceData(code_.c_str());
    void* conf = data != nullptr ? shm_OpenDeviceConf(code_.c_str()) : nullptr;
    if (data == nullptr || conf == nullptr) return;
    const auto layout = qvr::data_module_layout(qvr::section_bytes(data), false);
    const size_t channels = status_.size();
    if (!layout || layout->channel_count < channels) return;
    const auto bytes = qvr::section_bytes(data);

    bool changed = false;
    if (shm_Lock(conf) != 0) return;
    for (int i = 0; i < devices_; ++i) {
        const auto base = static_cast<size_t>(i) * kStatsChannelsPerDevice;
        const uint32_t online = counters_[base] != 0 ? 1u : 0u;
        if ((status_[base] & 1u) != online) {
            status_[base] = (status_[base] & ~1u) | online;
            changed = true;
        }
        const uint32_t reset_word = qvr::load_u32(bytes, layout->status_words + (base + 1) * 4);
        if ((reset_word & 1u) != 0) {
            // The online state is not a count: a reset keeps it.
            std::fill(counters_.begin() + static_cast<std::ptrdiff_t>(base + 2),
                      counters_.begin() + static_cast<std::ptrdiff_t>(base + kStatsChannelsPerDevice), 0u);
            status_[base + 1] &= ~1u;
            changed = true;
        }
        for (size_t c = base; c < base + kStatsChannelsPerDevice; ++c) {
            const auto value = static_cast<float>(counters_[c]);
            if (values_[c] != value) {
                values_[c] = value;
                changed = true;
            }
        }
    }
    shm_Unlock(conf);

    const int last = static_cast<int>(channels);
    if (first_publish_) {
        chan_SetDigitalValuesAll(code_.c_str(), 1, last, status_.data());
        chan_SetAnalogValuesAll(code_.c_str(), 1, last, values_.data());
        first_publish_ = false;
    } else if (changed) {
        chan_SetDigitalValues(code_.c_str(), 1, last, status_.data());
        chan_SetAnalogValues(code_.c_str(), 1, last, values_.data());
    }
}

void PortStatistics::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (!set_up_) return;
        for (size_t c = 0; c < counters_.size(); c += kStatsChannelsPerDevice) counters_[c] = 0;
    }
    publish();
    std::lock_guard lock(mutex_);
    counters_.clear();
    status_.clear();
    values_.clear();
    devices_ = 0;
    set_up_ = false;
    port_text_.clear();
}

}  // namespace tolva
