// sim_config, the stand-in configuration program, run as a real process on record files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "TOLVA_CF/exports.h"
#include "pdf_text.h"
#include "printout_pages.h"
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

ProgramRun sim_config(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    auto child = ChildProcess::spawn(qvr_test::bin_path("sim_config"), args, env, true);
    std::string out = child.read_stdout_to_end(120s);
    const auto code = child.wait_exit_code(120s);
    return {code.value_or(-1), out};
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

// The pages sim_config printed: lines up to a form feed line each, then "result=N".
struct PrintRun {
    int exit_code = -1;
    tolva_cf_test::Pages pages;
    std::string result;
};

PrintRun print_run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    const ProgramRun run = sim_config(args, env);
    PrintRun out;
    out.exit_code = run.exit_code;
    tolva_cf_test::Page page;
    for (const std::string& line : tolva_cf_test::lines_of(run.out)) {
        if (line == "\f") {
            out.pages.push_back(page);
            page.clear();
        } else if (line.starts_with("result=")) {
            out.result = line;
        } else {
            page.push_back(line);
        }
    }
    return out;
}

void write_table(const std::filesystem::path& path, const std::vector<qvr::ChannelRecord>& table) {
    qvr_test::write_file(path, std::string(reinterpret_cast<const char*>(table.data()),
                                           table.size() * sizeof(qvr::ChannelRecord)));
}

// A device with four analog channels (the third disabled) and two digital ones, its records
// in files, and the same device in a configuration folder as the server keeps it.
struct PrintedDevice {
    qvr_test::TempDir dir;
    tolva::HostDeviceRecord device = tolva_cf_test::host_device(5);
    tolva::DeviceConfigRecord config{};
    std::vector<qvr::ChannelRecord> analog;
    std::vector<qvr::ChannelRecord> digital;

    PrintedDevice() {
        tolva_cf_test::set_kind(device, 0, "A1", 4);
        tolva_cf_test::set_kind(device, 1, "D1", 2);
        config.ScanRate = 1500;
        std::memcpy(config.Comm.CommPort, "COM3", 4);
        config.Comm.BaudRate = 9600;
        for (int i = 1; i <= 4; ++i) {
            analog.push_back(tolva_cf_test::plain_analog(tolva_cf_test::fmt("T%d", i).c_str(), i != 3));
        }
        digital = {tolva_cf_test::digital_channel("DOOR_1"), tolva_cf_test::digital_channel("DOOR_2")};
        write_record(dir / "device.rec", device);
        write_record(dir / "config.rec", config);
        write_table(dir / "ai.tab", analog);
        write_table(dir / "di.tab", digital);
    }

    // "config" (AutoEnable, then the record), "saveconfig" and the channel tables.
    std::filesystem::path configuration_folder() const {
        const auto folder = dir / "CURRENT_CONFIG";
        const auto device_folder = folder / "PRESS_LINE";
        qvr_test::write_file(device_folder / "config",
                             std::string(1, '\1') + std::string(reinterpret_cast<const char*>(&config), sizeof config));
        qvr_test::write_file(device_folder / "saveconfig", std::string("\1\1\xe2\x04\0\0", 6));  // rate 1250
        const auto table = [](const std::vector<qvr::ChannelRecord>& records) {
            return std::string(8, '\0') +
                   std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof records[0]);
        };
        qvr_test::write_file(device_folder / "ai", table(analog));
        qvr_test::write_file(device_folder / "di", table(digital));
        return folder;
    }
    std::string path(const char* name) const { return (dir / name).string(); }
};

TEST(SimConfigPrint, PrintAllWithRecordsGivesTheDeviceBlockAndBothListings) {
    PrintedDevice d;
    const PrintRun run = print_run({"print-all", d.path("device.rec"), "1", "1", "0", "1250", d.path("config.rec"),
                                    d.path("ai.tab"), d.path("di.tab")});
    ASSERT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.result, "result=0");
    ASSERT_EQ(run.pages.size(), 2u);
    using namespace tolva_cf_test;
    const Page& first = run.pages[0];
    ASSERT_EQ(first.size(), 19u + 3u + 3u * 2u);
    EXPECT_EQ(first[0], fmt("        SERVER NAME    [%s]", ""));
    EXPECT_EQ(first[3], fmt("        AUTOSAVE       [%s]", "Y") +
                            fmt("                    BY TAG  [%s]       SAVE RATE %02d(min) %02d(sec) %03d(ms)", "N",
                                0, 1, 250));
    EXPECT_EQ(first[6], "        SCAN RATE 00(min) 01(sec) 500(ms)");
    EXPECT_EQ(first[9], fmt("        PORT [%-6.6s]                      BAUD RATE [%-6d]", "COM3", 9600));
    Page listing = analog_heading();
    for (int i : {1, 2, 4}) append(listing, plain_analog_lines(fmt("A1%d", i).c_str(), fmt("T%d", i).c_str()));
    EXPECT_EQ(Page(first.begin() + 19, first.end()), listing);
    EXPECT_EQ(run.pages[1].at(0), digital_heading()[0]);
    EXPECT_EQ(run.pages[1].size(), 3u + 2u * 2u);
}

TEST(SimConfigPrint, PrintAllWithoutRecordsReadsTheServersConfigurationFolder) {
    PrintedDevice d;
    const auto folder = d.configuration_folder();
    const PrintRun given = print_run({"print-all", d.path("device.rec"), "1", "1", "1", "1250", d.path("config.rec"),
                                      d.path("ai.tab"), d.path("di.tab")});
    // The status and autosave values given on the command line give way to the stored ones.
    const PrintRun read = print_run({"print-all", d.path("device.rec"), "0", "0", "0", "0"},
                                    {"QVR_CURRENT_CONFIG=" + folder.string()});
    ASSERT_EQ(read.exit_code, 0);
    EXPECT_EQ(read.result, "result=0");
    ASSERT_EQ(given.pages.size(), 2u);
    EXPECT_EQ(read.pages, given.pages);

    std::filesystem::remove(folder / "PRESS_LINE" / "di");
    const PrintRun missing = print_run({"print-all", d.path("device.rec"), "0", "0", "0", "0"},
                                       {"QVR_CURRENT_CONFIG=" + folder.string()});
    EXPECT_EQ(missing.result, "result=-1");
    EXPECT_TRUE(missing.pages.empty());
}

TEST(SimConfigPrint, PrintRangesAndRefusals) {
    PrintedDevice d;
    const auto folder = d.configuration_folder();
    struct Case {
        const char* kind;
        const char* first;
        const char* last;
        bool with_table;
        const char* result;
        std::size_t lines;
    };
    for (const Case& c : {Case{"0", "0", "0", true, "result=0", 3 + 3 * 2}, Case{"0", "2", "3", true, "result=0", 3 + 2},
                          Case{"0", "3", "3", true, "result=0", 1}, Case{"0", "2", "4", false, "result=0", 3 + 2 * 2},
                          Case{"1", "2", "0", false, "result=0", 3 + 2}, Case{"0", "1", "5", true, "result=-1", 0},
                          Case{"0", "3", "2", true, "result=-1", 0}, Case{"2", "0", "0", true, "result=-1", 0},
                          Case{"9", "0", "0", true, "result=-1", 0}}) {
        SCOPED_TRACE(std::string("kind ") + c.kind + " first " + c.first + " last " + c.last);
        std::vector<std::string> args{"print", d.path("device.rec"), c.kind, c.first, c.last};
        if (c.with_table) args.push_back(d.path(std::string(c.kind) == "1" ? "di.tab" : "ai.tab"));
        const PrintRun run = print_run(args, {"QVR_CURRENT_CONFIG=" + folder.string()});
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.result, c.result);
        std::size_t lines = 0;
        for (const auto& page : run.pages) lines += page.size();
        EXPECT_EQ(lines, c.lines);
    }
    const PrintRun disabled = print_run({"print", d.path("device.rec"), "0", "3", "3", d.path("ai.tab")});
    EXPECT_EQ(disabled.pages, (tolva_cf_test::Pages{{"CHANNELS A13 - A13 DISABLED"}}));
}

TEST(SimConfigPrint, PrintsThroughTheQtBackEndToAPdf) {
    PrintedDevice d;
    const std::string pdf = d.path("device.pdf");
    const ProgramRun run = sim_config({"--print", pdf, "print-all", d.path("device.rec"), "1", "0", "0", "0",
                                       d.path("config.rec"), d.path("ai.tab"), d.path("di.tab")});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, "result=0\n");
    EXPECT_EQ(tolva_cf_test::pdf_pages(pdf), 2);
    const auto text = tolva_cf_test::pdf_page_lines(pdf);
    ASSERT_EQ(text.size(), 2u);
    EXPECT_EQ(text[0].at(0), "        SERVER NAME    []");
    EXPECT_EQ(text[1].at(0), tolva_cf_test::digital_heading()[0]);
}

TEST(SimConfig, RefusesARecordFileOfTheWrongSize) {
    qvr_test::TempDir dir;
    qvr_test::write_file(dir / "short.rec", std::string(100, '\0'));
    const ProgramRun run = sim_config({"--accept", "comm", (dir / "short.rec").string()});
    EXPECT_EQ(run.exit_code, 2);
}

}  // namespace
