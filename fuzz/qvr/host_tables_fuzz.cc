// Treats the input as a host table or module image written by another process and runs the
// readers over it, touching every byte they hand out, so a read outside the image is caught.
// Input: one byte of reader selection, one byte of index, then the image.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qvr/channel_record.h"
#include "qvr/device_module_layout.h"
#include "qvr/host_table_layout.h"
#include "qvr/host_tables.h"

namespace {

volatile uint8_t g_sink;

void touch(const std::vector<std::byte>& image, size_t offset, size_t length) {
    for (size_t i = 0; i < length; ++i)
        g_sink = static_cast<uint8_t>(g_sink + static_cast<uint8_t>(image.at(offset + i)));
}

void tables(const std::vector<std::byte>& image, uint32_t index) {
    for (size_t size : {qvr::kDeviceRecordSize, qvr::kProcessRecordSize, qvr::kLoggerRecordSize}) {
        const uint32_t count = qvr::table_record_count(image, size);
        for (uint32_t i : {0u, index, count > 0 ? count - 1 : 0u, count})
            if (const auto offset = qvr::table_record_offset(image, size, i)) touch(image, *offset, size);
    }
    for (uint32_t i : {0u, index, qvr::table_count_field(image)})
        if (const auto offset = qvr::stats_code_offset(image, i)) touch(image, *offset, qvr::kStatsCodeSize);
    if (const auto t = qvr::error_table_layout(image)) {
        for (uint32_t i = 0; i < t->entries; ++i) {
            const size_t entry = t->first + i * t->entry_size;
            touch(image, entry, 1);
            touch(image, entry + t->name_offset, t->name_size);
            touch(image, entry + t->text_offset, t->text_size);
        }
    }
}

void modules(const std::vector<std::byte>& image, uint32_t index) {
    for (bool records : {false, true}) {
        const auto m = qvr::data_module_layout(image, records);
        if (!m) continue;
        touch(image, m->status_words, 4u * m->channel_count);
        if (m->values) touch(image, *m->values, 4u * m->channel_count);
        if (m->value_records) touch(image, *m->value_records, qvr::kValueRecordSize * m->channel_count);
    }
    touch(image, qvr::kConfRecordsOffset, qvr::conf_record_count(image) * qvr::kChannelRecordSize);
    // An event module read for a channel count taken from the image itself.
    const uint32_t count =
        image.size() > 133 ? static_cast<uint8_t>(image[132]) | static_cast<uint8_t>(image[133]) << 8 : index;
    for (uint32_t bitmap = 0; bitmap < 4; ++bitmap)
        for (uint32_t channel : {0u, index, count > 0 ? count - 1 : 0u, count})
            (void)qvr::event_bit(image, count, bitmap, channel);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint32_t index = data[1];
    std::vector<std::byte> image(size - 2);
    if (!image.empty()) std::memcpy(image.data(), data + 2, image.size());
    if ((data[0] & 1) == 0)
        tables(image, index);
    else
        modules(image, index);
    return 0;
}
