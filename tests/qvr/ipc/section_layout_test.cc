#include "qvr/ipc/section_layout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "qvr/ipc/shm.h"
#include "support/section_images.h"

namespace {

std::vector<std::byte> from_hex(const std::string& hex) {
    std::vector<std::byte> out;
    for (size_t i = 0; i + 1 < hex.size();) {
        if (hex[i] == ' ' || hex[i] == '\n') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::byte>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

std::string to_hex(std::span<const std::byte> bytes) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, "%02x", static_cast<unsigned>(bytes[i]));
        out += b;
        out += (i % 16 == 15) ? '\n' : ' ';
    }
    return out;
}

// Headers of data module "dm_AB", as laid down byte by byte for the runtime host.
const std::string kEvenHeader =  // data length 10: data size 554, waiters at 138, requests at 278
    "fc 4a 00 00 2a 02 00 00 4c 00 00 00 00 00 00 00\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "6c 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 64 6d 5f 41\n"
    "42 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "0a 00 00 00 00 00 00 00 8a 00 00 00 16 01 00 00\n";
const std::string kOddHeader =  // data length 11: data size 556, waiters at 140, requests at 280
    "fc 4a 00 00 2c 02 00 00 4c 00 00 00 00 00 00 00\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "6c 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 64 6d 5f 41\n"
    "42 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n"
    "0b 00 00 00 00 00 00 00 8c 00 00 00 18 01 00 00\n";

struct GoldenCase {
    uint32_t data_length;
    const std::string* header;
    size_t mapping_size;
    size_t waiters, requests;
};
void PrintTo(const GoldenCase& g, std::ostream* os) {
    *os << "data length " << g.data_length;
}
const GoldenCase kGolden[] = {{10, &kEvenHeader, 662, 138, 278}, {11, &kOddHeader, 664, 140, 280}};

// A fresh data module image as the host lays it out.
std::vector<std::byte> module_image(uint32_t data_length) {
    return qvr_test::data_module_image("dm_AB", data_length);
}

}  // namespace

// One case per test process: a section name is created once per process.
class CreatedModule : public testing::TestWithParam<GoldenCase> {};

TEST_P(CreatedModule, MatchesTheGoldenHeader) {
    const GoldenCase& g = GetParam();
    void* base = shm_CreateDataModule("dm_AB", g.data_length);
    ASSERT_NE(base, nullptr);
    const auto bytes = qvr::section_bytes(base);
    ASSERT_EQ(bytes.size(), g.mapping_size);
    EXPECT_EQ(to_hex(bytes.first(128)), to_hex(from_hex(*g.header)));
    for (size_t i = 128; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], std::byte{0}) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(EvenAndOdd, CreatedModule, testing::ValuesIn(kGolden), [](const auto& param_info) {
    return param_info.param.data_length % 2 ? "Odd" : "Even";
});

TEST(SectionLayout, ImagesAndAreasMatchTheGoldenOffsets) {
    for (const auto& g : kGolden) {
        const auto image = module_image(g.data_length);
        ASSERT_EQ(image.size(), g.mapping_size);
        EXPECT_EQ(to_hex(std::span(image).first(128)), to_hex(from_hex(*g.header)));
        const auto areas = qvr::signal_areas(image);
        ASSERT_TRUE(areas);
        EXPECT_EQ(areas->narrow_waiters, g.waiters);
        EXPECT_EQ(areas->wide_waiters, g.waiters + 60);
        EXPECT_EQ(areas->wide_waiter_count, 10);
        EXPECT_EQ(areas->narrow_requests, g.requests);
        EXPECT_EQ(areas->wide_requests, g.requests + 128);
        EXPECT_EQ(areas->wide_request_count, 32);
        EXPECT_EQ(areas->wide_requests + 32 * 8, image.size()) << "the request list ends the module";
    }
}

TEST(SectionLayout, PlainSectionHeaderHasOnlyTheFirst108Bytes) {
    void* base = shm_CreateSection("dm_plain", 40);
    ASSERT_NE(base, nullptr);
    const auto bytes = qvr::section_bytes(base);
    ASSERT_EQ(bytes.size(), 148u);
    EXPECT_EQ(qvr::load_u16(bytes, 0), 0x4AFC);
    EXPECT_EQ(qvr::load_u32(bytes, 4), 40u);
    EXPECT_EQ(qvr::load_u32(bytes, 8), 76u);
    EXPECT_EQ(qvr::load_u32(bytes, 32), 108u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 76)), "dm_plain");
    for (size_t i = 108; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], std::byte{0});
    EXPECT_FALSE(qvr::signal_areas(bytes)) << "offsets 0 would point into the header";
}

TEST(SectionLayout, MappingSizeIsRefusedUnlessTheObjectHoldsIt) {
    struct Case {
        uint32_t data_size;
        size_t object_size;
        bool ok;
    } cases[] = {{40, 148, true},   {40, 4096, true}, {41, 148, false},
                 {19, 4096, false}, {20, 128, true},  {0xFFFFFFFF, 4096, false}};
    for (const auto& c : cases) {
        std::vector<std::byte> head(8);
        qvr::store_u32(head, 4, c.data_size);
        const auto size = qvr::section_mapping_size(head, c.object_size);
        EXPECT_EQ(size.has_value(), c.ok) << c.data_size << " in " << c.object_size;
        if (size) {
            EXPECT_EQ(*size, c.data_size + 108u);
        }
    }
    EXPECT_FALSE(qvr::section_mapping_size(std::span<const std::byte>(), 4096));
}

TEST(SectionLayout, AreasOutsideTheMappingOrInsideTheDataAreRefused) {
    struct Case {
        const char* what;
        uint32_t data_length, waiters, requests;
        bool ok;
    } cases[] = {
        {"as laid out", 10, 138, 278, true},
        {"waiters inside the data", 10, 130, 278, false},
        {"waiters inside the header", 10, 0, 0, false},
        {"requests overlap the narrow waiters", 10, 138, 150, false},
        {"requests past the end", 10, 138, 600, false},
        {"requests wrap around", 10, 138, 0xFFFFFFF0, false},
        {"data length past the end", 0xFFFFFF00, 138, 278, false},
    };
    for (const auto& c : cases) {
        auto image = module_image(10);
        qvr::store_u32(image, qvr::kOffDataLength, c.data_length);
        qvr::store_u32(image, qvr::kOffWaiterOffset, c.waiters);
        qvr::store_u32(image, qvr::kOffRequestOffset, c.requests);
        EXPECT_EQ(qvr::signal_areas(image).has_value(), c.ok) << c.what;
    }
}

TEST(SectionLayout, AHeaderIsTrustedOnlyWithItsMagicDataLengthAndAreasInsideTheMapping) {
    struct Case {
        const char* what;
        size_t offset;  // of the u32 (u16 for the magic) written over the fresh header
        uint32_t value;
        std::optional<qvr::LayoutFault> fault;
    } cases[] = {
        {"as laid out", qvr::kOffDataLength, 10, std::nullopt},
        {"shorter data", qvr::kOffDataLength, 0, std::nullopt},
        {"no magic", qvr::kOffMagic, 0x4AFD, qvr::LayoutFault::kMagic},
        {"data length one past the waiters", qvr::kOffDataLength, 11, qvr::LayoutFault::kAreaOffsets},
        {"data length past the mapping", qvr::kOffDataLength, 662 - 128 + 1, qvr::LayoutFault::kDataLength},
        {"data length of 4 GiB", qvr::kOffDataLength, 0xFFFFFFFF, qvr::LayoutFault::kDataLength},
        {"waiters past the mapping", qvr::kOffWaiterOffset, 4096, qvr::LayoutFault::kAreaOffsets},
        {"requests past the mapping", qvr::kOffRequestOffset, 662 - 127, qvr::LayoutFault::kAreaOffsets},
        {"waiters inside the header", qvr::kOffWaiterOffset, 0, qvr::LayoutFault::kAreaOffsets},
    };
    for (const auto& c : cases) {
        auto image = module_image(10);
        if (c.offset == qvr::kOffMagic)
            qvr::store_u16(image, c.offset, static_cast<uint16_t>(c.value));
        else
            qvr::store_u32(image, c.offset, c.value);
        EXPECT_EQ(qvr::module_header_fault(image), c.fault) << c.what;
    }
    const auto image = module_image(10);
    EXPECT_EQ(qvr::module_header_fault(std::span(image).first(127)), qvr::LayoutFault::kDataLength);
    EXPECT_EQ(qvr::layout_fault_text(qvr::LayoutFault::kAreaOffsets), "AREA OFFSETS");
}

TEST(SectionLayout, CountsAreClampedToTheAreasAndTheMapping) {
    auto image = module_image(10);
    // A header that claims a huge wide-waiter area and a huge data size.
    qvr::store_u32(image, qvr::kOffRequestOffset, 138 + 60 + 8 * 40);
    qvr::store_u32(image, qvr::kOffDataSize, 0xFFFF0000);
    image.resize(138 + 60 + 8 * 40 + 128 + 8 * 5);
    const auto areas = qvr::signal_areas(image);
    ASSERT_TRUE(areas);
    EXPECT_EQ(areas->wide_waiter_count, 10);
    EXPECT_EQ(areas->wide_request_count, 5) << "no more than the mapping holds";
}

TEST(SectionLayout, ModuleWithoutWideAreasUsesItsNarrowEntries) {
    // As another creator might lay it out: 10 narrow slots, 32 narrow requests, nothing else.
    std::vector<std::byte> image(128 + 10 + 60 + 128);
    qvr::fill_section_header(image, "dm_NW", static_cast<uint32_t>(image.size() - 108));
    qvr::store_u32(image, qvr::kOffDataLength, 10);
    qvr::store_u32(image, qvr::kOffWaiterOffset, 138);
    qvr::store_u32(image, qvr::kOffRequestOffset, 198);
    const auto areas = qvr::signal_areas(image);
    ASSERT_TRUE(areas);
    EXPECT_EQ(areas->wide_waiter_count, 0);
    EXPECT_EQ(areas->wide_request_count, 0);

    EXPECT_EQ(qvr::reset_waiters(image, *areas, 3, 0x10007), 0);
    EXPECT_EQ(qvr::load_u16(image, 138 + 2 * 6), 0x0007) << "narrow slots keep the low 16 bits";
    EXPECT_EQ(qvr::claim_waiter(image, *areas, 3, 0x10007), qvr::ClaimResult::kMustWait);
    ASSERT_TRUE(qvr::queue_request(image, *areas, 0x20009, 77));
    std::vector<qvr::CodeToSend> codes;
    qvr::signal_entries(image, *areas, 0, std::nullopt, codes);
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[0].pid, 7u);
    EXPECT_EQ(codes[0].code, qvr::kSectionChangedCode);
    EXPECT_EQ(codes[1].pid, 9u);
    EXPECT_EQ(codes[1].code, 77u);
}

// A narrow entry keeps the low 16 bits of a process id; for a pid whose low 16 bits are zero
// that is the free entry, so such a pid is refused rather than written as nobody.
TEST(SectionLayout, NarrowEntriesRefuseAPidThatWouldReadAsFree) {
    std::vector<std::byte> image(128 + 10 + 60 + 128);
    qvr::fill_section_header(image, "dm_NW", static_cast<uint32_t>(image.size() - 108));
    qvr::store_u32(image, qvr::kOffDataLength, 10);
    qvr::store_u32(image, qvr::kOffWaiterOffset, 138);
    qvr::store_u32(image, qvr::kOffRequestOffset, 198);
    const auto areas = qvr::signal_areas(image);
    ASSERT_TRUE(areas);
    const std::vector<std::byte> before = image;
    for (const uint32_t pid : {0x10000u, 0x30000u, 0x3F0000u}) {
        SCOPED_TRACE(pid);
        EXPECT_EQ(qvr::reset_waiters(image, *areas, 3, pid), -1);
        EXPECT_EQ(qvr::claim_waiter(image, *areas, 3, pid), std::nullopt);
        EXPECT_FALSE(qvr::queue_request(image, *areas, pid, 5));
        EXPECT_EQ(image, before) << "nothing written";
    }
    EXPECT_EQ(qvr::claim_waiter(image, *areas, 3, 0x30001), qvr::ClaimResult::kMustWait)
        << "other pids above 65535 still use their low 16 bits";

    auto wide = module_image(10);
    const auto wide_areas = *qvr::signal_areas(wide);
    EXPECT_EQ(qvr::claim_waiter(wide, wide_areas, 3, 0x30000), qvr::ClaimResult::kMustWait);
    EXPECT_TRUE(qvr::queue_request(wide, wide_areas, 0x30000, 5));
}

TEST(SectionLayout, WideEntriesKeepProcessIdsAbove65535) {
    auto image = module_image(10);
    const auto areas = *qvr::signal_areas(image);
    const uint32_t big = 4'000'123;
    EXPECT_EQ(qvr::claim_waiter(image, areas, 1, big), qvr::ClaimResult::kMustWait);
    EXPECT_EQ(qvr::claim_waiter(image, areas, 1, big & 0xFFFF), qvr::ClaimResult::kTakenByOther)
        << "a process that shares the low 16 bits is another process";
    ASSERT_TRUE(qvr::queue_request(image, areas, big, 5));
    std::vector<qvr::CodeToSend> codes;
    qvr::signal_entries(image, areas, 0, std::nullopt, codes);
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[0].pid, big);
    EXPECT_EQ(codes[1].pid, big);
    for (size_t i = areas.narrow_waiters; i < areas.wide_waiters; ++i)
        ASSERT_EQ(image[i], std::byte{0}) << "narrow slots untouched";
}

TEST(SectionLayout, SignallingWakesWaitersCountsMissesAndFiresRequestsOnce) {
    auto image = module_image(8);
    const auto areas = *qvr::signal_areas(image);
    EXPECT_EQ(qvr::reset_waiters(image, areas, 1, 100), 0);
    EXPECT_EQ(qvr::reset_waiters(image, areas, 2, 200), 0);
    EXPECT_EQ(qvr::claim_waiter(image, areas, 1, 100), qvr::ClaimResult::kMustWait);
    ASSERT_TRUE(qvr::queue_request(image, areas, 300, 1234));
    ASSERT_TRUE(qvr::queue_request(image, areas, 300, 4321)) << "updates its own request";

    std::vector<qvr::CodeToSend> codes;
    qvr::signal_entries(image, areas, 0, std::nullopt, codes);
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[0].pid, 100u);
    EXPECT_EQ(codes[0].code, 32u);
    EXPECT_EQ(codes[1].pid, 300u);
    EXPECT_EQ(codes[1].code, 4321u);

    codes.clear();
    qvr::signal_entries(image, areas, 0, std::nullopt, codes);
    ASSERT_EQ(codes.size(), 1u) << "the request fired once";
    // Slot 2 was not waiting: two missed signals, consumed one per claim.
    EXPECT_EQ(qvr::claim_waiter(image, areas, 2, 200), qvr::ClaimResult::kSignalled);
    EXPECT_EQ(qvr::claim_waiter(image, areas, 2, 200), qvr::ClaimResult::kSignalled);
    EXPECT_EQ(qvr::claim_waiter(image, areas, 2, 200), qvr::ClaimResult::kMustWait);

    codes.clear();
    qvr::clear_waiting(image, areas, 1, 100);
    qvr::signal_entries(image, areas, 1, std::nullopt, codes);
    EXPECT_TRUE(codes.empty()) << "slot 1 no longer waits";
    codes.clear();
    qvr::signal_entries(image, areas, 0, std::optional<uint32_t>(200), codes);
    EXPECT_TRUE(codes.empty()) << "the signaller's own slot is passed over";

    EXPECT_EQ(qvr::reset_waiters(image, areas, 1, 999), 100);
    EXPECT_EQ(qvr::reset_waiters(image, areas, 0, 999), 10);
    EXPECT_EQ(qvr::claim_waiter(image, areas, 1, 999), qvr::ClaimResult::kMustWait);
    EXPECT_FALSE(qvr::claim_waiter(image, areas, 11, 999));
}

TEST(SectionLayout, RequestListFillsAndCancels) {
    auto image = module_image(8);
    const auto areas = *qvr::signal_areas(image);
    for (uint32_t pid = 1; pid <= 32; ++pid) ASSERT_TRUE(qvr::queue_request(image, areas, pid, 1));
    EXPECT_FALSE(qvr::queue_request(image, areas, 33, 1));
    EXPECT_TRUE(qvr::cancel_request(image, areas, 7));
    EXPECT_FALSE(qvr::cancel_request(image, areas, 7));
    EXPECT_TRUE(qvr::queue_request(image, areas, 33, 1));
}

TEST(SectionLayout, LockFieldsRecordTheLow16BitsAndTheDepth) {
    auto image = module_image(8);
    const int16_t id = qvr::owner_id_of(0x12345);
    EXPECT_EQ(static_cast<uint16_t>(id), 0x2345);
    qvr::record_lock(image, id, false);
    qvr::record_lock(image, id, false);
    EXPECT_EQ(qvr::load_u16(image, qvr::kOffOwner), 0x2345);
    EXPECT_EQ(qvr::load_u32(image, qvr::kOffRecursion), 2u);
    // A holder that died leaves its fields; the next owner starts afresh.
    qvr::record_lock(image, qvr::owner_id_of(0xFFFF), true);
    EXPECT_EQ(qvr::load_u16(image, qvr::kOffOwner), 0xFFFF);
    EXPECT_EQ(qvr::load_u32(image, qvr::kOffRecursion), 1u);
    qvr::record_unlock(image, id);  // not the owner: nothing changes
    EXPECT_EQ(qvr::load_u32(image, qvr::kOffRecursion), 1u);
    qvr::record_unlock(image, qvr::owner_id_of(0xFFFF));
    EXPECT_EQ(qvr::load_u16(image, qvr::kOffOwner), 0);
    EXPECT_EQ(qvr::load_u32(image, qvr::kOffRecursion), 0u);
}

TEST(SectionLayout, UnlockOfACorruptDepthReleasesTheOwner) {
    for (const uint32_t depth : {0u, 0x80000000u, 0xFFFFFFFFu}) {
        auto image = module_image(8);
        const int16_t id = qvr::owner_id_of(42);
        qvr::store_u16(image, qvr::kOffOwner, static_cast<uint16_t>(id));
        qvr::store_u32(image, qvr::kOffRecursion, depth);
        qvr::record_unlock(image, id);
        EXPECT_EQ(qvr::load_u16(image, qvr::kOffOwner), 0) << depth;
        EXPECT_EQ(qvr::load_u32(image, qvr::kOffRecursion), 0u) << depth;
    }
}
