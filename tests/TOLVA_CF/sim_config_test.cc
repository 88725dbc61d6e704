// sim_config, the stand-in configuration program, run as a real process on record files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "TOLVA_CF/exports.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using qvr_test::ChildProcess;

template <typename Record>
void write_record(const std::filesystem::path& path, const Record& record) {
    qvr_test::write_file(path, std::string(reinterpret_cast<const char*>(&record), sizeof record));
}

template <typename Record>
Record read_record(const std::filesystem::path& path) {
    const std::string bytes = qvr_test::read_file(path);
    Record record{};
    EXPECT_EQ(bytes.size(), sizeof record);
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    return record;
}

struct ProgramRun {
    int exit_code;
    std::string out;
};

ProgramRun sim_config(const std::vector<std::string>& args) {
    auto child = ChildProcess::spawn(qvr_test::bin_path("sim_config"), args, {}, true);
    const auto code = child.wait_exit_code(120s);
    return {code.value_or(-1), child.read_stdout(0ms)};
}

TEST(SimConfig, PastesBetweenRecordFiles) {
    qvr_test::TempDir dir;
    qvr::ChannelRecord source{};
    source.head.Type = qvr::ChannelKind::AI;
    chanrec_SetTag(&source, "LEVEL_TANK_0042");
    source.bytes[188] = 9;  // station
    write_record(dir / "source.rec", source);
    write_record(dir / "destination.rec", qvr::ChannelRecord{});

    const ProgramRun run =
        sim_config({"paste", (dir / "source.rec").string(), (dir / "destination.rec").string(), "3"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "modified=1\n");
    const auto pasted = read_record<qvr::ChannelRecord>(dir / "destination.rec");
    EXPECT_EQ(pasted.head.Type, qvr::ChannelKind::DO);
    EXPECT_STREQ(chanrec_GetTag(&pasted), "LEVEL_TANK_0042");
    EXPECT_EQ(pasted.bytes[192], 9);
}

TEST(SimConfig, CommunicationDialogAcceptedUnattended) {
    qvr_test::TempDir dir;
    tolva::HostDeviceRecord device{};
    device.Config.ScanRate = 500;
    write_record(dir / "device.rec", device);

    const ProgramRun run = sim_config({"--port", "6", "--accept", "comm", (dir / "device.rec").string()});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "modified=1\n");
    const auto stored = read_record<tolva::HostDeviceRecord>(dir / "device.rec");
    EXPECT_EQ(tolva::comm_port(stored.Config.Comm), "COM6");
    EXPECT_EQ(stored.Config.Comm.BaudRate, 19200u);
    EXPECT_EQ(stored.Config.ScanRate, 500u);
}

TEST(SimConfig, ChannelDialogRefusalIsShownAndNothingIsWritten) {
    qvr_test::TempDir dir;
    qvr::ChannelRecord record{};
    record.head.Type = qvr::ChannelKind::DI;
    tolva::ChannelHwRecord hw{};
    hw.StationNumber = 40;  // beyond the network's 31
    hw.FileType = tolva::file_type::kBinary;
    hw.FileNumber = 3;
    std::memcpy(record.bytes + tolva::kDigitalHwOffset, &hw, sizeof hw);
    write_record(dir / "channel.rec", record);

    const ProgramRun run = sim_config({"--accept", "channel", (dir / "channel.rec").string(), "1"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "refused: Please enter an integer between 0 and 31.\nmodified=0\n");
    EXPECT_TRUE(read_record<qvr::ChannelRecord>(dir / "channel.rec") == record);
}

TEST(SimConfig, RefusesARecordFileOfTheWrongSize) {
    qvr_test::TempDir dir;
    qvr_test::write_file(dir / "short.rec", std::string(100, '\0'));
    const ProgramRun run = sim_config({"--accept", "comm", (dir / "short.rec").string()});
    EXPECT_EQ(run.exit_code, 2);
}

}  // namespace
