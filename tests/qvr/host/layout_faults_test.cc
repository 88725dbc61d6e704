// Whether a host table or module can be trusted as its header describes it, on images laid
// out as the host lays them out and then corrupted one field at a time.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "qvr/host/device_module_layout.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/records/channel_record.h"
#include "support/section_images.h"

namespace {

using qvr::LayoutFault;

std::vector<std::byte> module_image(uint32_t data_length) {
    return qvr_test::data_module_image("dm_A1", data_length);
}

// The data module of `count` channels of `per_channel` bytes.
std::vector<std::byte> data_module(uint16_t count, uint16_t per_channel) {
    auto image = module_image(qvr::kDataModuleHeadSize + uint32_t{count} * per_channel);
    std::memcpy(image.data() + qvr::kModuleCodeOffset, "A1", 2);
    qvr::store_u16(image, qvr::kBytesPerChannelOffset, per_channel);
    qvr::store_u16(image, qvr::kChannelCountOffset, count);
    return image;
}

struct Write {
    size_t offset;
    uint32_t value;
    int width;  // 2 or 4 bytes
};

void apply(std::vector<std::byte>& image, const std::optional<Write>& w) {
    if (!w) return;
    if (w->width == 2)
        qvr::store_u16(image, w->offset, static_cast<uint16_t>(w->value));
    else
        qvr::store_u32(image, w->offset, w->value);
}

}  // namespace

TEST(LayoutFaults, DataModulesAreRefusedForEachFieldThatCannotBeTrusted) {
    struct Case {
        const char* what;
        bool analog;
        std::optional<Write> write;  // over a module of 3 channels of the kind's width
        std::optional<LayoutFault> fault;
        bool head_writable;
    } cases[] = {
        {"analog as laid out", true, std::nullopt, std::nullopt, true},
        {"digital as laid out", false, std::nullopt, std::nullopt, true},
        {"no channels", false, Write{qvr::kChannelCountOffset, 0, 2}, std::nullopt, true},
        {"channel count 200", true, Write{qvr::kChannelCountOffset, 200, 2}, LayoutFault::kChannelCount, true},
        {"channel count 65535", false, Write{qvr::kChannelCountOffset, 65535, 2}, LayoutFault::kChannelCount,
         true},
        {"one channel too many", true, Write{qvr::kChannelCountOffset, 4, 2}, LayoutFault::kChannelCount, true},
        {"analog kind of 4 bytes a channel", true, Write{qvr::kBytesPerChannelOffset, 4, 2},
         LayoutFault::kBytesPerValue, true},
        {"digital kind of 8 bytes a channel", false, Write{qvr::kBytesPerChannelOffset, 8, 2},
         LayoutFault::kChannelCount, true},
        {"0 bytes a channel", false, Write{qvr::kBytesPerChannelOffset, 0, 2}, LayoutFault::kBytesPerValue, true},
        {"65535 bytes a channel", true, Write{qvr::kBytesPerChannelOffset, 65535, 2}, LayoutFault::kBytesPerValue,
         true},
        {"data shorter than the head", false, Write{qvr::kOffDataLength, 19, 4}, LayoutFault::kDataLength, false},
        {"data length past the section", true, Write{qvr::kOffDataLength, 0x10000, 4}, LayoutFault::kDataLength,
         false},
        {"waiters past the section", true, Write{qvr::kOffWaiterOffset, 0x7FFFFFF0, 4}, LayoutFault::kAreaOffsets,
         false},
        {"requests inside the waiters", false, Write{qvr::kOffRequestOffset, 160, 4}, LayoutFault::kAreaOffsets,
         false},
        {"no magic", true, Write{qvr::kOffMagic, 0, 2}, LayoutFault::kMagic, false},
    };
    for (const auto& c : cases) {
        auto image = data_module(3, c.analog ? qvr::kAnalogBytesPerChannel : qvr::kDigitalBytesPerChannel);
        apply(image, c.write);
        const auto fault = qvr::data_module_fault(image, c.analog);
        EXPECT_EQ(fault, c.fault) << c.what;
        EXPECT_EQ(qvr::module_head_writable(image), c.head_writable) << c.what;
        if (!fault) {
            // What is trusted is what the readers hand out.
            const auto layout = qvr::data_module_layout(image, false);
            ASSERT_TRUE(layout) << c.what;
            EXPECT_EQ(layout->values.has_value(), c.analog) << c.what;
        }
    }
    // A digital module of 8 bytes a channel that holds them is a module another host may make.
    EXPECT_EQ(qvr::data_module_fault(data_module(3, qvr::kAnalogBytesPerChannel), false), std::nullopt);
}

TEST(LayoutFaults, ConfigurationModulesMustHoldARecordPerChannel) {
    auto conf = module_image(3 * qvr::kChannelRecordSize);
    EXPECT_EQ(qvr::conf_module_fault(conf, 3), std::nullopt);
    EXPECT_EQ(qvr::conf_module_fault(conf, 0), std::nullopt);
    EXPECT_EQ(qvr::conf_module_fault(conf, 4), LayoutFault::kDataLength);
    EXPECT_EQ(qvr::conf_module_fault(conf, 65535), LayoutFault::kDataLength);
    qvr::store_u32(conf, qvr::kOffRequestOffset, 0xFFFFFFF0);
    EXPECT_EQ(qvr::conf_module_fault(conf, 3), LayoutFault::kAreaOffsets);
}

namespace {

// A table of `data_length` data bytes whose count field says `count`.
struct TableCase {
    const char* what;
    uint32_t data_length;
    uint32_t count;
    std::optional<LayoutFault> fault;
};

template <typename Check>
void expect_table_faults(std::span<const TableCase> cases, uint32_t laid_out, Check check) {
    for (const auto& c : cases) {
        auto image = module_image(laid_out);
        qvr::store_u32(image, qvr::kTableCountOffset, c.count);
        qvr::store_u32(image, qvr::kOffDataLength, c.data_length);
        EXPECT_EQ(check(image), c.fault) << c.what;
    }
}

}  // namespace

TEST(LayoutFaults, TablesMustHoldEveryRecordTheirCountClaims) {
    const TableCase cases[] = {
        {"records and codes", 4 + 2 * 790, 2, std::nullopt},
        {"records only", 4 + 2 * 788, 2, std::nullopt},
        {"empty", 4, 0, std::nullopt},
        {"one record short", 4 + 2 * 788 - 1, 2, LayoutFault::kRecordCount},
        {"a count of 4 G", 4 + 2 * 790, 0xFFFFFFFF, LayoutFault::kRecordCount},
        {"no room for the count", 3, 0, LayoutFault::kDataLength},
    };
    expect_table_faults(cases, 4 + 2 * 790,
                        [](std::span<const std::byte> t) { return qvr::table_fault(t, qvr::kDeviceRecordSize); });
}

TEST(LayoutFaults, ErrorTablesInEitherFormMustHoldTheirEntries) {
    const TableCase cases[] = {
        {"long form", 4 + 8 * 443, 8, std::nullopt},
        {"short form, whose last entry the count cuts", 8 * 57, 8, std::nullopt},
        {"long form claiming one entry more", 4 + 8 * 443, 9, LayoutFault::kRecordCount},
        {"long form claiming 4 G entries", 4 + 8 * 443, 0xFFFFFFFF, LayoutFault::kRecordCount},
        {"data length past the section", 0x100000, 8, LayoutFault::kDataLength},
    };
    expect_table_faults(cases, 4 + 8 * 443, [](std::span<const std::byte> t) { return qvr::error_table_fault(t); });
}
