#include "qvr/ipc/section_layout.h"

#include <algorithm>
#include <cstring>

namespace qvr {
namespace {

// Offsets of the fields inside one entry.
constexpr size_t kNarrowFlag = 2;
constexpr size_t kNarrowMissed = 4;
constexpr size_t kWideFlag = 4;
constexpr size_t kWideMissed = 6;
constexpr size_t kNarrowCode = 2;
constexpr size_t kWideCode = 4;

size_t flag_offset(EntryRef e) {
    return e.offset + (e.wide ? kWideFlag : kNarrowFlag);
}
size_t missed_offset(EntryRef e) {
    return e.offset + (e.wide ? kWideMissed : kNarrowMissed);
}
size_t code_offset(EntryRef e) {
    return e.offset + (e.wide ? kWideCode : kNarrowCode);
}

// A narrow entry keeps the low 16 bits, and 0 there is a free entry.
bool entry_can_hold(EntryRef e, uint32_t pid) {
    return e.wide || (pid & 0xFFFFu) != 0;
}

void set_pid(std::span<std::byte> m, EntryRef e, uint32_t pid) {
    if (e.wide)
        store_u32(m, e.offset, pid);
    else
        store_u16(m, e.offset, static_cast<uint16_t>(pid));
}

int waiter_count(const SignalAreas& a) {
    return a.wide_waiter_count > 0 ? a.wide_waiter_count : kWaiterSlotCount;
}

EntryRef waiter_at(const SignalAreas& a, int index0) {
    if (a.wide_waiter_count > 0)
        return {a.wide_waiters + static_cast<size_t>(index0) * kWideWaiterSize, true};
    return {a.narrow_waiters + static_cast<size_t>(index0) * kNarrowWaiterSize, false};
}

int request_count(const SignalAreas& a) {
    return a.wide_request_count > 0 ? a.wide_request_count : kSignalRequestCount;
}

EntryRef request_at(const SignalAreas& a, int index0) {
    if (a.wide_request_count > 0)
        return {a.wide_requests + static_cast<size_t>(index0) * kWideRequestSize, true};
    return {a.narrow_requests + static_cast<size_t>(index0) * kNarrowRequestSize, false};
}

void signal_one(std::span<std::byte> m, EntryRef slot, std::optional<uint32_t> skip_pid,
                std::vector<CodeToSend>& out) {
    if (skip_pid && entry_is_process(m, slot, *skip_pid)) return;
    if (load_u16(m, flag_offset(slot)) != 0) {
        out.push_back({entry_pid(m, slot), kSectionChangedCode});
        return;
    }
    const uint16_t missed = load_u16(m, missed_offset(slot));
    if (missed != UINT16_MAX) store_u16(m, missed_offset(slot), static_cast<uint16_t>(missed + 1));
}

std::optional<EntryRef> request_of(std::span<const std::byte> m, const SignalAreas& a, uint32_t pid) {
    for (int i = 0; i < request_count(a); ++i) {
        const EntryRef r = request_at(a, i);
        if (entry_pid(m, r) != 0 && entry_is_process(m, r, pid)) return r;
    }
    return std::nullopt;
}

}  // namespace

uint16_t load_u16(std::span<const std::byte> bytes, size_t offset) {
    uint8_t b[2];
    std::memcpy(b, bytes.data() + offset, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t load_u32(std::span<const std::byte> bytes, size_t offset) {
    uint8_t b[4];
    std::memcpy(b, bytes.data() + offset, 4);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void store_u16(std::span<std::byte> bytes, size_t offset, uint16_t value) {
    const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    std::memcpy(bytes.data() + offset, b, 2);
}

void store_u32(std::span<std::byte> bytes, size_t offset, uint32_t value) {
    const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    std::memcpy(bytes.data() + offset, b, 4);
}

uint32_t data_module_extra_bytes(uint32_t data_length) {
    return static_cast<uint32_t>(kWaiterArea + kRequestArea + (kSectionDataOffset - kSectionExtraSize)) +
           (data_length & 1u);
}

std::optional<uint32_t> data_module_data_size(uint32_t data_length) {
    const uint64_t size = static_cast<uint64_t>(data_length) + data_module_extra_bytes(data_length);
    // The mapping (data size + 108) must stay addressable too.
    if (size + kSectionExtraSize > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(size);
}

void fill_section_header(std::span<std::byte> mapping, std::string_view name, uint32_t data_size) {
    store_u16(mapping, kOffMagic, kSectionMagic);
    store_u32(mapping, kOffDataSize, data_size);
    store_u32(mapping, kOffNameOffset, static_cast<uint32_t>(kOffName));
    store_u32(mapping, kOffHeaderSize, kSectionExtraSize);
    const size_t n = std::min(name.size(), kMaxSectionNameLength);
    std::memcpy(mapping.data() + kOffName, name.data(), n);
    mapping[kOffName + n] = std::byte{0};
}

void fill_data_module_fields(std::span<std::byte> mapping, uint32_t data_length) {
    const uint32_t padded = data_length + (data_length & 1u);
    const uint32_t waiter_offset = static_cast<uint32_t>(kSectionDataOffset) + padded;
    store_u32(mapping, kOffDataLength, data_length);
    store_u32(mapping, kOffWaiterOffset, waiter_offset);
    store_u32(mapping, kOffRequestOffset, waiter_offset + static_cast<uint32_t>(kWaiterArea));
}

std::optional<size_t> section_mapping_size(std::span<const std::byte> head, size_t object_size) {
    if (head.size() < kOffDataSize + 4) return std::nullopt;
    const size_t wanted = static_cast<size_t>(load_u32(head, kOffDataSize)) + kSectionExtraSize;
    if (wanted < kSectionDataOffset || wanted > object_size) return std::nullopt;
    return wanted;
}

std::string_view layout_fault_text(LayoutFault fault) {
    switch (fault) {
        case LayoutFault::kMagic:
            return "MAGIC";
        case LayoutFault::kDataLength:
            return "DATA LENGTH";
        case LayoutFault::kAreaOffsets:
            return "AREA OFFSETS";
        case LayoutFault::kRecordCount:
            return "RECORD COUNT";
        case LayoutFault::kChannelCount:
            return "CHANNEL COUNT";
        case LayoutFault::kBytesPerValue:
            return "BYTES PER VALUE";
    }
    return "LAYOUT";
}

std::optional<LayoutFault> module_header_fault(std::span<const std::byte> mapping) {
    if (mapping.size() < kSectionDataOffset) return LayoutFault::kDataLength;
    if (load_u16(mapping, kOffMagic) != kSectionMagic) return LayoutFault::kMagic;
    if (kSectionDataOffset + uint64_t{load_u32(mapping, kOffDataLength)} > mapping.size())
        return LayoutFault::kDataLength;
    if (!signal_areas(mapping)) return LayoutFault::kAreaOffsets;
    return std::nullopt;
}

std::optional<SignalAreas> signal_areas(std::span<const std::byte> mapping) {
    const size_t size = mapping.size();
    if (size < kSectionDataOffset) return std::nullopt;
    const uint64_t data_end = kSectionDataOffset + static_cast<uint64_t>(load_u32(mapping, kOffDataLength));
    const uint64_t waiters = load_u32(mapping, kOffWaiterOffset);
    const uint64_t requests = load_u32(mapping, kOffRequestOffset);
    if (waiters < data_end || waiters + kNarrowWaiterArea > requests) return std::nullopt;
    if (requests + kNarrowRequestArea > size) return std::nullopt;

    SignalAreas a;
    a.narrow_waiters = static_cast<size_t>(waiters);
    a.wide_waiters = a.narrow_waiters + kNarrowWaiterArea;
    a.wide_waiter_count = static_cast<int>(
        std::min<uint64_t>(kWaiterSlotCount, (requests - waiters - kNarrowWaiterArea) / kWideWaiterSize));
    a.narrow_requests = static_cast<size_t>(requests);
    a.wide_requests = a.narrow_requests + kNarrowRequestArea;
    // The count the creator laid out, bounded by what the mapping really holds.
    const int64_t data_size = load_u32(mapping, kOffDataSize);
    const int64_t data_length = load_u32(mapping, kOffDataLength);
    const int64_t laid_out = (data_size - static_cast<int64_t>(kWideWaiterSize) * a.wide_waiter_count -
                              data_length - (data_length & 1) - 208) /
                             static_cast<int64_t>(kWideRequestSize);
    const int64_t room = static_cast<int64_t>((size - a.wide_requests) / kWideRequestSize);
    a.wide_request_count =
        static_cast<int>(std::clamp<int64_t>(std::min(laid_out, room), 0, kSignalRequestCount));
    return a;
}

uint32_t entry_pid(std::span<const std::byte> mapping, EntryRef entry) {
    return entry.wide ? load_u32(mapping, entry.offset) : load_u16(mapping, entry.offset);
}

bool entry_is_process(std::span<const std::byte> mapping, EntryRef entry, uint32_t pid) {
    return entry.wide ? entry_pid(mapping, entry) == pid : entry_pid(mapping, entry) == (pid & 0xFFFFu);
}

std::optional<EntryRef> waiter_slot(const SignalAreas& areas, int n) {
    if (n < 1 || n > waiter_count(areas)) return std::nullopt;
    return waiter_at(areas, n - 1);
}

void signal_entries(std::span<std::byte> mapping, const SignalAreas& areas, int n,
                    std::optional<uint32_t> skip_pid, std::vector<CodeToSend>& out) {
    if (n != 0) {
        if (auto slot = waiter_slot(areas, n)) signal_one(mapping, *slot, skip_pid, out);
        return;
    }
    for (int i = 0; i < waiter_count(areas); ++i) signal_one(mapping, waiter_at(areas, i), skip_pid, out);
    for (int i = 0; i < request_count(areas); ++i) {
        const EntryRef r = request_at(areas, i);
        const uint32_t pid = entry_pid(mapping, r);
        if (pid == 0 || (skip_pid && entry_is_process(mapping, r, *skip_pid))) continue;
        out.push_back({pid, load_u16(mapping, code_offset(r))});
        set_pid(mapping, r, 0);
    }
}

bool waiters_can_hold(const SignalAreas& areas, uint32_t pid) {
    return entry_can_hold(waiter_at(areas, 0), pid);
}

bool requests_can_hold(const SignalAreas& areas, uint32_t pid) {
    return entry_can_hold(request_at(areas, 0), pid);
}

bool queue_request(std::span<std::byte> mapping, const SignalAreas& areas, uint32_t pid, uint16_t code) {
    if (!requests_can_hold(areas, pid)) return false;
    std::optional<EntryRef> target = request_of(mapping, areas, pid);
    for (int i = 0; !target && i < request_count(areas); ++i) {
        const EntryRef r = request_at(areas, i);
        if (entry_pid(mapping, r) == 0) target = r;
    }
    if (!target) return false;
    set_pid(mapping, *target, pid);
    store_u16(mapping, code_offset(*target), code);
    if (target->wide) store_u16(mapping, target->offset + 6, 0);
    return true;
}

bool cancel_request(std::span<std::byte> mapping, const SignalAreas& areas, uint32_t pid) {
    const std::optional<EntryRef> r = request_of(mapping, areas, pid);
    if (!r) return false;
    set_pid(mapping, *r, 0);
    return true;
}

int64_t reset_waiters(std::span<std::byte> mapping, const SignalAreas& areas, int n, uint32_t pid) {
    auto clear = [&](EntryRef slot, uint32_t owner) {
        set_pid(mapping, slot, owner);
        store_u16(mapping, flag_offset(slot), 0);
        store_u16(mapping, missed_offset(slot), 0);
    };
    if (n == 0) {
        for (int i = 0; i < waiter_count(areas); ++i) clear(waiter_at(areas, i), 0);
        return kWaiterSlotCount;
    }
    const std::optional<EntryRef> slot = waiter_slot(areas, n);
    if (!slot || !entry_can_hold(*slot, pid)) return -1;
    const uint32_t previous = entry_pid(mapping, *slot);
    clear(*slot, pid);
    return previous;
}

std::optional<ClaimResult> claim_waiter(std::span<std::byte> mapping, const SignalAreas& areas, int n,
                                        uint32_t pid) {
    const std::optional<EntryRef> slot = waiter_slot(areas, n);
    if (!slot || !entry_can_hold(*slot, pid)) return std::nullopt;
    const uint32_t owner = entry_pid(mapping, *slot);
    if (owner == 0) {
        set_pid(mapping, *slot, pid);
        store_u16(mapping, flag_offset(*slot), 0);
    } else if (!entry_is_process(mapping, *slot, pid)) {
        return ClaimResult::kTakenByOther;
    }
    const uint16_t missed = load_u16(mapping, missed_offset(*slot));
    if (missed != 0) {
        store_u16(mapping, missed_offset(*slot), static_cast<uint16_t>(missed - 1));
        return ClaimResult::kSignalled;
    }
    store_u16(mapping, flag_offset(*slot), 1);
    return ClaimResult::kMustWait;
}

void clear_waiting(std::span<std::byte> mapping, const SignalAreas& areas, int n, uint32_t pid) {
    const std::optional<EntryRef> slot = waiter_slot(areas, n);
    if (slot && entry_is_process(mapping, *slot, pid)) store_u16(mapping, flag_offset(*slot), 0);
}

int16_t owner_id_of(uint32_t pid) {
    return static_cast<int16_t>(static_cast<uint16_t>(pid & 0xFFFFu));
}

// After the mutex is taken: the depth of the owning process, reset first when the previous
// holder died.
void record_lock(std::span<std::byte> bytes, int16_t owner_id, bool previous_holder_died) {
    if (previous_holder_died) {
        store_u16(bytes, kOffOwner, 0);
        store_u32(bytes, kOffRecursion, 0);
    }
    if (static_cast<int16_t>(load_u16(bytes, kOffOwner)) == owner_id) {
        store_u32(bytes, kOffRecursion, load_u32(bytes, kOffRecursion) + 1);
    } else {
        store_u16(bytes, kOffOwner, static_cast<uint16_t>(owner_id));
        store_u32(bytes, kOffRecursion, 1);
    }
}

// Before the mutex is released.
void record_unlock(std::span<std::byte> bytes, int16_t owner_id) {
    if (static_cast<int16_t>(load_u16(bytes, kOffOwner)) != owner_id) return;
    // Widened: the count sits in shared memory and may hold anything, even INT32_MIN.
    const int64_t depth = int64_t{static_cast<int32_t>(load_u32(bytes, kOffRecursion))} - 1;
    store_u32(bytes, kOffRecursion, static_cast<uint32_t>(depth > 0 ? depth : 0));
    if (depth <= 0) store_u16(bytes, kOffOwner, 0);
}

}  // namespace qvr
