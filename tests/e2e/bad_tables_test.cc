// Host tables and modules whose headers cannot be trusted, against the real tolva_sc started by
// the host stand-in. Each case replaces one section by a corrupted copy, exactly as large as
// its header claims, in an object that holds guard bytes after it (or in one cut short of it),
// so a write outside the section, or a mapping the object does not hold, shows. The scanner
// must name the section and the reason in its status text, set the module's error field where
// that is safe, answer or refuse the host's requests at once, exit with a non-zero code where
// it exits for a bad table, and write nothing outside what it may write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform/shm_object.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/testing/process_state_testing.h"
#include "scanner_rig.h"

namespace {

using e2e::ScannerRig;
using namespace std::chrono_literals;

constexpr std::byte kGuard{0xA5};
// A code for the test process's own slot, queued on a module before a scan command.
constexpr uint32_t kAnswerCode = 4343;
constexpr uint16_t kInvalidData = platform::kErrorInvalidData;

struct Field {
    size_t offset;
    uint32_t value;
    int width;  // 2 or 4 bytes
};

// One corrupted section: a field overwritten, or the object cut to half the size its header
// claims.
struct Corruption {
    std::string section;
    std::optional<Field> field;  // none: cut short
};

// A section replaced by a corrupted copy of itself, with the bytes the test expects back.
class ReplacedSection {
  public:
    explicit ReplacedSection(const Corruption& c) : name_("Global\\" + c.section) {
        const auto old = qvr::section_bytes(shm_OpenSection(c.section.c_str()));
        if (old.empty()) return;
        image_.assign(old.begin(), old.end());
        if (c.field) {
            if (c.field->width == 2)
                qvr::store_u16(image_, c.field->offset, static_cast<uint16_t>(c.field->value));
            else
                qvr::store_u32(image_, c.field->offset, c.field->value);
            const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
            object_size_ = (image_.size() + page - 1) / page * page + page;
        } else {
            object_size_ = image_.size() / 2;
        }
        if (platform::shm_object_remove(name_) != 0) return;
        auto made = platform::shm_object_create(name_, object_size_, 0600, [&](std::span<std::byte> bytes) {
            std::fill(bytes.begin(), bytes.end(), kGuard);
            std::memcpy(bytes.data(), image_.data(), std::min(bytes.size(), image_.size()));
        });
        if (!made) return;
        object_ = std::move(*made);
        image_.resize(std::min(image_.size(), object_size_));
        // Every later open in this process maps the new object, as the scanner's do.
        qvr::testing::forget_section_names();
    }

    bool made() const { return object_.base() != nullptr; }
    std::span<std::byte> bytes() const { return object_.bytes(); }

    // Nothing changed outside [allowed...) of the section, nothing after it, and the object
    // keeps its size.
    void expect_untouched_but(std::vector<std::pair<size_t, size_t>> allowed) const {
        const auto now = bytes();
        size_t changed = 0;
        for (size_t i = 0; i < now.size(); ++i) {
            const bool may = std::any_of(allowed.begin(), allowed.end(),
                                         [i](const auto& r) { return i >= r.first && i < r.second; });
            const std::byte expected = i < image_.size() ? image_[i] : kGuard;
            if (!may && now[i] != expected && changed++ < 8) ADD_FAILURE() << name_ << ": byte " << i << " changed";
        }
        EXPECT_EQ(changed, 0u) << name_;
        const auto object = platform::ShmObject::open(name_);
        ASSERT_TRUE(object);
        EXPECT_EQ(object->size(), object_size_) << name_;
    }

  private:
    std::string name_;
    std::vector<std::byte> image_;
    size_t object_size_ = 0;
    platform::ShmMapping object_;
};

// A rig whose link waits about 0.5 s for the module's ACK (the default is 10 ms), so values
// are read on a loaded machine too.
void patient_link(ScannerRig& rig) {
    rig.config.Comm.ReplyAck = 1000;
}

enum class Request { kAnswered, kRefused, kNoAnswer };

// Queues a request on `section`, sends a scan command and waits for the request's code.
Request scan_request(ScannerRig& rig, const sim_host::HostProcess& scanner, const std::string& section) {
    void* module = shm_OpenSection(section.c_str());
    sim_host::clear_slot_codes();
    if (module == nullptr || shm_QueueRequest(module, kAnswerCode) != 0) return Request::kRefused;
    if (!rig.send(scanner, kScanCommandScan)) return Request::kNoAnswer;
    const bool answered = e2e::wait_until([] {
        const auto codes = sim_host::slot_codes();
        return std::find(codes.begin(), codes.end(), kAnswerCode) != codes.end();
    });
    return answered ? Request::kAnswered : Request::kNoAnswer;
}

std::ostream& operator<<(std::ostream& os, Request r) {
    return os << (r == Request::kAnswered ? "answered" : r == Request::kRefused ? "refused" : "no answer");
}

// Lock fields of any section: pending count, owner, depth.
const std::vector<std::pair<size_t, size_t>> kLockFields{{qvr::kOffPending, qvr::kOffDataLength},
                                                         {qvr::kOffRecursion, qvr::kOffWaiterOffset}};

struct ModuleCase {
    const char* name;
    Corruption corruption;
    const char* text;                      // the device's status text
    std::optional<uint16_t> ai_error;      // dm_A1's error field; none: never written
    Request ai_request;                    // a request queued on dm_A1 with a scan command
    bool ai_served;                        // the AI channels are scanned
};
void PrintTo(const ModuleCase& c, std::ostream* os) {
    *os << c.name;
}

using qvr::kBytesPerChannelOffset;
using qvr::kChannelCountOffset;
using qvr::kOffDataLength;
using qvr::kOffMagic;
using qvr::kOffRequestOffset;
using qvr::kOffWaiterOffset;

const ModuleCase kModuleCases[] = {
    {"ChannelCount200", {"dm_A1", Field{kChannelCountOffset, 200, 2}}, "BAD dm_A1 CHANNEL COUNT", kInvalidData,
     Request::kAnswered, false},
    {"ChannelCount65535", {"dm_A1", Field{kChannelCountOffset, 65535, 2}}, "BAD dm_A1 CHANNEL COUNT", kInvalidData,
     Request::kAnswered, false},
    {"FourBytesPerAnalogValue", {"dm_A1", Field{kBytesPerChannelOffset, 4, 2}}, "BAD dm_A1 BYTES PER VALUE",
     kInvalidData, Request::kAnswered, false},
    {"DataShorterThanTheHead", {"dm_A1", Field{kOffDataLength, 19, 4}}, "BAD dm_A1 DATA LENGTH", std::nullopt,
     Request::kAnswered, false},
    {"DataLengthPastTheSection", {"dm_A1", Field{kOffDataLength, 1000000, 4}}, "BAD dm_A1 DATA LENGTH",
     std::nullopt, Request::kRefused, false},
    {"WaitersPastTheSection", {"dm_A1", Field{kOffWaiterOffset, 0x7FFFFFF0, 4}}, "BAD dm_A1 AREA OFFSETS",
     std::nullopt, Request::kRefused, false},
    {"RequestsPastTheSection", {"dm_A1", Field{kOffRequestOffset, 100000, 4}}, "BAD dm_A1 AREA OFFSETS",
     std::nullopt, Request::kRefused, false},
    {"NoMagic", {"dm_A1", Field{kOffMagic, 0, 2}}, "BAD dm_A1 MAGIC", std::nullopt, Request::kRefused, false},
    {"TruncatedDataModule", {"dm_A1", std::nullopt}, "CAN'T OPEN dm_A1 -0013", std::nullopt, Request::kRefused,
     false},
    {"ConfigurationOneRecordShort", {"dm_A1_conf", Field{kOffDataLength, 2 * qvr::kChannelRecordSize, 4}},
     "BAD dm_A1_conf DATA LENGTH", kInvalidData, Request::kAnswered, false},
    {"TruncatedConfiguration", {"dm_A1_conf", std::nullopt}, "CAN'T OPEN dm_A1_conf -0013", kInvalidData,
     Request::kAnswered, false},
    {"EventAreasInsideTheHeader", {"dm_A1_event", Field{kOffWaiterOffset, 0, 4}}, "BAD dm_A1_event AREA OFFSETS",
     0, Request::kAnswered, true},
    {"StatisticsOfFourBytesAValue", {"dm_A6", Field{kBytesPerChannelOffset, 4, 2}}, "BAD dm_A6 BYTES PER VALUE", 0,
     Request::kAnswered, true},
};

class BadModule : public testing::TestWithParam<ModuleCase> {};

TEST_P(BadModule, IsReportedAnsweredAndNeverWrittenOutside) {
    const ModuleCase& c = GetParam();
    ScannerRig rig;
    patient_link(rig);
    rig.network.set_value(e2e::kStationOne, "N7:0", 5);
    ASSERT_EQ(rig.add_device(), 0);
    const uint16_t ai_error_before = qvr::load_u16(qvr::section_bytes(shm_OpenSection("dm_A1")), qvr::kModuleErrorOffset);
    const ReplacedSection replaced(c.corruption);
    ASSERT_TRUE(replaced.made());

    auto scanner = rig.start();
    ASSERT_TRUE(scanner) << "the device never opened";
    EXPECT_TRUE(e2e::wait_until([&] { return rig.status_text() == c.text; })) << rig.status_text();
    DeviceRecord* d = rig.device();
    EXPECT_EQ(d->Busy, 0);
    EXPECT_NE(d->NextDue.seconds, 0);

    // Every scan command is done: the other kinds' modules are answered, and the unusable
    // module is answered too or refuses the request at once; none is left waiting.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(scan_request(rig, *scanner, "dm_A2"), Request::kAnswered) << "round " << round;
        EXPECT_EQ(scan_request(rig, *scanner, "dm_A1"), c.ai_request) << "round " << round;
    }
    EXPECT_EQ(rig.status_text(), c.text) << "the report stays while the device runs";
    EXPECT_EQ(d->Busy, 0);
    EXPECT_GE(d->LastScanMs, 0);
    if (c.ai_served) {
        EXPECT_EQ(rig.host.value("A1", 1), 5.0f);
    }
    const bool ai_replaced = c.corruption.section == "dm_A1";
    // The error field, read from the module the scanner uses.
    const auto ai = ai_replaced ? replaced.bytes() : qvr::section_bytes(shm_OpenSection("dm_A1"));
    EXPECT_EQ(qvr::load_u16(ai, qvr::kModuleErrorOffset), c.ai_error.value_or(ai_error_before));
    if (c.corruption.section == "dm_A1_conf") {
        for (int ch = 1; ch <= 3; ++ch) EXPECT_NE(rig.host.status_word("A1", ch) & 0x20u, 0u) << "channel " << ch;
    }

    ASSERT_TRUE(rig.send(*scanner, kScanCommandStop));
    EXPECT_EQ(ScannerRig::exit_code(scanner->wait(30s)), 0);
    EXPECT_EQ(rig.status_text(), c.text);

    // What the scanner and the test's own requests may change: the lock fields, and of an
    // answered data module its head (error and scan time) and its waiter and request areas.
    auto allowed = kLockFields;
    if (ai_replaced && c.ai_error) allowed.push_back({qvr::kModuleErrorOffset, qvr::kConfigTimeOffset});
    if (ai_replaced && c.ai_request == Request::kAnswered)
        allowed.push_back({qvr::load_u32(replaced.bytes(), kOffWaiterOffset), qvr::section_bytes(shm_OpenSection("dm_A1")).size()});
    replaced.expect_untouched_but(allowed);
}

INSTANTIATE_TEST_SUITE_P(Corrupted, BadModule, testing::ValuesIn(kModuleCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct TableCase {
    const char* name;
    Corruption corruption;
    const char* text;  // "(no entry)" when the device cannot be found to be named
};
void PrintTo(const TableCase& c, std::ostream* os) {
    *os << c.name;
}

const TableCase kDeviceTableCases[] = {
    {"CountOfAMillionDevices", {qvr::kDeviceTableName, Field{qvr::kTableCountOffset, 1000000, 4}},
     "BAD dm_device RECORD COUNT"},
    {"DataLengthPastTheSection", {qvr::kDeviceTableName, Field{kOffDataLength, 0x7FFFFFFF, 4}},
     "BAD dm_device DATA LENGTH"},
    {"RequestsPastTheSection", {qvr::kDeviceTableName, Field{kOffRequestOffset, 0x7FFFFFFF, 4}},
     "BAD dm_device AREA OFFSETS"},
    {"Truncated", {qvr::kDeviceTableName, std::nullopt}, "(no entry)"},
};

class BadDeviceTable : public testing::TestWithParam<TableCase> {};

TEST_P(BadDeviceTable, EndsTheScannerWithTheReasonAndANonZeroCode) {
    const TableCase& c = GetParam();
    ScannerRig rig;
    ASSERT_EQ(rig.add_device(), 0);
    const ReplacedSection replaced(c.corruption);
    ASSERT_TRUE(replaced.made());
    auto scanner = rig.start({"1"}, {}, false);
    ASSERT_TRUE(scanner);
    EXPECT_EQ(ScannerRig::exit_code(scanner->wait(30s)), platform::kErrorInvalidData);
    EXPECT_EQ(rig.status_text(), c.text);
    // It never served the device: the record (read through the corrupted table, which
    // still holds it) was not touched, nor anything else.
    replaced.expect_untouched_but(kLockFields);
}

INSTANTIATE_TEST_SUITE_P(Corrupted, BadDeviceTable, testing::ValuesIn(kDeviceTableCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Status texts are best effort: an error table the scanner cannot trust does not stop it.
TEST(BadErrorTable, LeavesTheScannerServingItsDevice) {
    ScannerRig rig;
    patient_link(rig);
    rig.network.set_value(e2e::kStationOne, "N7:0", 9);
    ASSERT_EQ(rig.add_device(), 0);
    const ReplacedSection replaced({qvr::kErrorTableName, Field{qvr::kTableCountOffset, 1000000, 4}});
    ASSERT_TRUE(replaced.made());
    auto scanner = rig.start();
    ASSERT_TRUE(scanner);
    EXPECT_EQ(scan_request(rig, *scanner, "dm_A1"), Request::kAnswered);
    EXPECT_EQ(rig.host.value("A1", 1), 9.0f);
    ASSERT_TRUE(rig.send(*scanner, kScanCommandStop));
    EXPECT_EQ(ScannerRig::exit_code(scanner->wait(30s)), 0);
    // The entries it holds may change, nothing after the section.
    const size_t section = qvr::section_bytes(shm_OpenSection(qvr::kErrorTableName)).size();
    auto allowed = kLockFields;
    allowed.push_back({qvr::kTableRecordsOffset, section});
    replaced.expect_untouched_but(allowed);
}

}  // namespace
