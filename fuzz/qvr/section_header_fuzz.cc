// Treats the input as a section image written by another process and runs every operation
// that reads offsets or counts from it. The image is copied into a buffer of exactly its
// size, so any read or write outside it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qvr/ipc/section_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    // Four bytes of parameters: slot number, process id and code.
    const int slot = data[0] % 12;
    const uint32_t pid = 1u + data[1] * 257u + (data[2] << 16);
    const uint16_t code = static_cast<uint16_t>(data[3] * 131u);
    std::vector<std::byte> image(size - 4);
    if (!image.empty()) std::memcpy(image.data(), data + 4, image.size());

    // What an opener would map of an object of this size.
    if (const auto mapped = qvr::section_mapping_size(image, image.size())) image.resize(*mapped);
    if (image.size() < qvr::kSectionDataOffset) return 0;

    qvr::record_lock(image, qvr::owner_id_of(pid), data[0] & 1);
    qvr::record_unlock(image, qvr::owner_id_of(pid));

    const auto areas = qvr::signal_areas(image);
    // A trusted header has its areas, and its data inside the mapping.
    if (!qvr::module_header_fault(image) &&
        (!areas || qvr::kSectionDataOffset + uint64_t{qvr::load_u32(image, qvr::kOffDataLength)} > image.size()))
        __builtin_trap();
    if (!areas) return 0;
    std::vector<qvr::CodeToSend> codes;
    qvr::claim_waiter(image, *areas, slot, pid);
    qvr::queue_request(image, *areas, pid, code);
    qvr::signal_entries(image, *areas, slot, std::nullopt, codes);
    qvr::signal_entries(image, *areas, 0, pid, codes);
    qvr::cancel_request(image, *areas, pid);
    qvr::clear_waiting(image, *areas, slot, pid);
    qvr::reset_waiters(image, *areas, slot, pid);
    qvr::reset_waiters(image, *areas, 0, pid);
    for (int n = 1; n <= qvr::kWaiterSlotCount; ++n) {
        if (const auto ref = qvr::waiter_slot(*areas, n)) (void)qvr::entry_pid(image, *ref);
    }
    return 0;
}
