#include "tolva_sc/station_table.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/monotonic_clock.h"
#include "qvr/host/status_text.h"
#include "tolva_sc/pccc_codes.h"

namespace tolva {

namespace {

std::string text_prefix(uint8_t station, uint16_t file) {
    return "S" + std::to_string(station) + " F" + std::to_string(file) + ": ";
}

void device_status_text(std::string_view text) {
    if (text.empty()) {
        shm_ClearStatusText();
    } else {
        shm_SetStatusText("%.*s", static_cast<int>(text.size()), text.data());
    }
}

void store_text(StationRecord& record, std::string_view text) {
    record.status_text.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), kStationTextMax), record.status_text.begin());
}

}  // namespace

std::string station_error_text(uint8_t station, uint16_t file, int code) {
    char number[16];
    std::snprintf(number, sizeof number, "0x%x", static_cast<unsigned>(code) & 0xFFFFFFu);
    std::string text = text_prefix(station, file);
    text += pccc_error::family_word(code);
    text += number;
    if (text.size() > kStationTextMax) text.resize(kStationTextMax);
    return text;
}

StationTable::StationTable(PcccCommands& commands, Clock clock, StatusTextSink sink)
    : commands_(commands), clock_(std::move(clock)), sink_(std::move(sink)) {
    if (!sink_) sink_ = device_status_text;
    stations_.reserve(kMaxStations);
}

int64_t StationTable::now() const {
    return clock_ ? clock_() : platform::monotonic_ms();
}

StationRecord* StationTable::find_mutable(uint8_t station) {
    for (auto& r : stations_) {
        if (r.station == station) return &r;
    }
    return nullptr;
}

const StationRecord* StationTable::find(uint8_t station) const {
    for (const auto& r : stations_) {
        if (r.station == station) return &r;
    }
    return nullptr;
}

uint8_t StationTable::processor_type(uint8_t station) const {
    const StationRecord* r = find(station);
    return r ? r->processor_type : 0;
}

std::optional<NormalAddress> StationTable::normalise(const ChannelHwRecord& hw, bool digital) const {
    const StationRecord* r = find(hw.StationNumber);
    return normalise_address(hw, digital, r ? r->addressing() : StationAddressing{});
}

StationRecord* StationTable::ensure(uint8_t station) {
    if (StationRecord* r = find_mutable(station)) return r;
    if (stations_.size() >= kMaxStations) return nullptr;
    StationRecord& r = stations_.emplace_back();
    r.station = station;
    probe(r);
    return &r;
}

bool StationTable::read_directory(StationRecord& record) {
    std::array<uint8_t, kDirectoryHeaderSize> header{};
    TransferRequest request;
    request.station = record.station;
    request.element = 0;
    request.byte_count = static_cast<int16_t>(header.size());
    request.data = header;
    if (!commands_.read_directory(request)) {
        update_status_text(request);
        return false;
    }
    const size_t count = directory_entry_count(header);
    std::vector<uint8_t> image(count * kDirectoryEntrySize);
    constexpr int kElementsPerRequest = kEntriesPerRequest * kDirectoryEntrySize / 2;
    int element = kDirectoryHeaderSize / 2;
    for (size_t done = 0; done < count; done += kEntriesPerRequest) {
        const size_t n = std::min(kEntriesPerRequest, count - done);
        request.element = static_cast<int16_t>(element);
        request.byte_count = static_cast<int16_t>(n * kDirectoryEntrySize);
        request.data = std::span(image).subspan(done * kDirectoryEntrySize, n * kDirectoryEntrySize);
        if (!commands_.read_directory(request)) {
            update_status_text(request);
            return false;
        }
        element += kElementsPerRequest;
    }
    record.directory = IoDirectory(image);
    update_status_text(request);
    return true;
}

bool StationTable::probe(StationRecord& record) {
    record.probed_since_scan_began = true;
    std::array<uint8_t, 4> diagnostic{};
    TransferRequest request;
    request.station = record.station;
    request.byte_count = static_cast<int16_t>(diagnostic.size());
    request.data = diagnostic;
    bool ok = commands_.diagnostic_status(request) == 1;
    if (ok) {
        record.processor_type = diagnostic[1];
        record.type_known = true;
        if (pccc::is_directory_based(record.processor_type)) {
            ok = read_directory(record);
        } else {
            record.directory = IoDirectory();
            update_status_text(request);
        }
    } else {
        update_status_text(request);
    }
    if (!ok) record.directory = IoDirectory();
    record.probed = ok;
    return ok;
}

std::vector<uint8_t> StationTable::reprobe(const std::function<bool(const StationRecord&)>& due) {
    std::vector<uint8_t> changed;
    for (auto& r : stations_) {
        if (r.probed || !due(r)) continue;
        const uint8_t type = r.processor_type;
        const IoDirectory directory = r.directory;
        if (probe(r) || r.processor_type != type || !(r.directory == directory)) changed.push_back(r.station);
    }
    return changed;
}

std::vector<uint8_t> StationTable::probe_unprobed() {
    return reprobe([](const StationRecord&) { return true; });
}

std::vector<uint8_t> StationTable::begin_scan() {
    std::vector<uint8_t> changed = reprobe([](const StationRecord& r) { return !r.probed_since_scan_began; });
    for (auto& r : stations_) r.probed_since_scan_began = false;
    return changed;
}

void StationTable::update_status_text(const TransferRequest& request) {
    StationRecord* r = find_mutable(request.station);
    if (!r) return;
    if (request.result == 0) {
        if (r->text().starts_with(text_prefix(request.station, request.file_number))) store_text(*r, "");
        return;
    }
    store_text(*r, station_error_text(request.station, request.file_number, request.result));
}

void StationTable::rebuild_text_list() {
    for (auto& r : stations_) store_text(r, "");
    shown_ = 0;
}

void StationTable::rotate() {
    if (stations_.empty()) return;
    const int64_t t = now();
    if (last_change_ms_ && t - *last_change_ms_ < kTextRotationMs) return;
    const size_t n = stations_.size();
    const size_t start = shown_ % n;
    size_t i = (start + 1) % n;
    while (stations_[i].text().empty() && i != start) i = (i + 1) % n;
    shown_ = i;
    sink_(stations_[i].text());
    last_change_ms_ = t;
}

}  // namespace tolva
