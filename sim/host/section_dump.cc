// A readable dump of a section for the host stand-in. Everything read from the section is
// checked by the layout functions first.
#include <cctype>
#include <cstdio>
#include <string>

#include "host/host.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"

namespace sim_host {
namespace {

void line(std::string& out, const char* format, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    out += text;
}

void hex_dump(std::string& out, std::span<const std::byte> data) {
    for (size_t row = 0; row < data.size(); row += 16) {
        std::string hex, ascii;
        for (size_t i = row; i < row + 16; ++i) {
            if (i < data.size()) {
                const auto b = static_cast<unsigned char>(data[i]);
                char h[4];
                std::snprintf(h, sizeof h, "%02x ", b);
                hex += h;
                ascii += std::isprint(b) ? static_cast<char>(b) : '.';
            } else {
                hex += "   ";
            }
        }
        line(out, "    %04zx  %s |%s|\n", row, hex.c_str(), ascii.c_str());
    }
}

void entries(std::string& out, std::span<const std::byte> bytes, const qvr::SignalAreas& areas) {
    const bool wide_waiters = areas.wide_waiter_count > 0;
    const int waiter_count = wide_waiters ? areas.wide_waiter_count : qvr::kWaiterSlotCount;
    line(out, "  waiter slots: %d %s\n", waiter_count, wide_waiters ? "wide" : "narrow");
    for (int n = 1; n <= waiter_count; ++n) {
        const auto slot = *qvr::waiter_slot(areas, n);
        const uint32_t pid = qvr::entry_pid(bytes, slot);
        const size_t flags = slot.offset + (slot.wide ? 4 : 2);
        if (pid != 0 || qvr::load_u32(bytes, flags) != 0)
            line(out, "    slot %2d: process %u, waiting %u, missed %u\n", n, pid,
                 qvr::load_u16(bytes, flags), qvr::load_u16(bytes, flags + 2));
    }
    const bool wide_requests = areas.wide_request_count > 0;
    const int request_count = wide_requests ? areas.wide_request_count : qvr::kSignalRequestCount;
    line(out, "  signal requests: %d %s\n", request_count, wide_requests ? "wide" : "narrow");
    for (int i = 0; i < request_count; ++i) {
        const qvr::EntryRef r =
            wide_requests
                ? qvr::EntryRef{areas.wide_requests + static_cast<size_t>(i) * qvr::kWideRequestSize, true}
                : qvr::EntryRef{areas.narrow_requests + static_cast<size_t>(i) * qvr::kNarrowRequestSize,
                                false};
        const uint32_t pid = qvr::entry_pid(bytes, r);
        if (pid != 0)
            line(out, "    request: process %u, code %u\n", pid,
                 qvr::load_u16(bytes, r.offset + (r.wide ? 4 : 2)));
    }
}

}  // namespace

std::optional<std::string> describe(const std::string& name, size_t data_bytes) {
    void* section = shm_OpenSection(name.c_str());
    if (section == nullptr) return std::nullopt;
    const auto bytes = qvr::section_bytes(section);
    std::string out;
    line(out, "section %s: %zu bytes mapped\n", name.c_str(), bytes.size());
    line(out, "  magic 0x%04x, data size %u, name offset %u\n", qvr::load_u16(bytes, qvr::kOffMagic),
         qvr::load_u32(bytes, qvr::kOffDataSize), qvr::load_u32(bytes, qvr::kOffNameOffset));
    line(out, "  pending %u, owner %u, recursion %d\n", qvr::load_u16(bytes, qvr::kOffPending),
         qvr::load_u16(bytes, qvr::kOffOwner),
         static_cast<int32_t>(qvr::load_u32(bytes, qvr::kOffRecursion)));
    const uint32_t data_length = qvr::load_u32(bytes, qvr::kOffDataLength);
    const auto areas = qvr::signal_areas(bytes);
    size_t shown_length = bytes.size() - qvr::kSectionDataOffset;
    if (areas) {
        line(out, "  data module: data length %u, waiters at %u, requests at %u\n", data_length,
             qvr::load_u32(bytes, qvr::kOffWaiterOffset), qvr::load_u32(bytes, qvr::kOffRequestOffset));
        entries(out, bytes, *areas);
        shown_length = data_length;
    } else {
        out += "  plain section: no waiter slots or signal requests\n";
    }
    const size_t n = std::min(data_bytes, shown_length);
    line(out, "  data (%zu of %zu bytes):\n", n, shown_length);
    hex_dump(out, bytes.subspan(qvr::kSectionDataOffset, n));
    return out;
}

}  // namespace sim_host
