// qvr_viewer as a user meets it: its help and usage, the texts of what goes wrong, and the
// CSV of channels whose tags hold commas, quotes and characters beyond ASCII.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/runtime_host.h"
#include "logger/stand_in_logger.h"
#include "qvr/records/channel_record.h"
#include "support/child_process.h"
#include "viewer_fixture.h"

namespace {

using namespace viewer_test;
namespace fs = std::filesystem;

TEST(ViewerCommand, HelpGoesToStandardOutputAndWrongCommandLinesGetTheUsageOnStandardError) {
    const Ran help = run_viewer({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_TRUE(help.out.starts_with("usage: qvr_viewer")) << help.out;
    EXPECT_NE(help.out.find("An empty field is a value the run marks bad"), std::string::npos) << help.out;

    const struct {
        std::vector<std::string> args;
        const char* says;
    } wrong[] = {
        {{}, "no LOCATION given"},
        {{"--bogus", "/x"}, "unknown option --bogus"},
        {{"--csv", "--list", "/x"}, "choose one of"},
        {{"--csv", "--run", "0", "/x"}, "--run needs a run number"},
        {{"--csv", "--from", "2024-02-30", "/x"}, "--from: not a time: 2024-02-30"},
        {{"--csv", "--to", "yesterday", "/x"}, "--to: not a time: yesterday"},
        {{"--png", "a.png", "--size", "100x100", "/x"}, "--size needs WIDTHxHEIGHT"},
        {{"--list", "--channels", "AI1", "/x"}, "go with --csv or --png"},
        {{"/x", "/y"}, "one LOCATION only"},
    };
    for (const auto& w : wrong) {
        const Ran ran = run_viewer(w.args);
        EXPECT_EQ(ran.exit_code, 2) << w.says;
        EXPECT_EQ(ran.out, "") << w.says;
        EXPECT_NE(ran.err.find(w.says), std::string::npos) << ran.err;
        EXPECT_NE(ran.err.find("usage: qvr_viewer"), std::string::npos) << ran.err;
    }
}

TEST(ViewerCommand, WhatCannotBeReadIsSaidInWords) {
    Place place(Kind::kSqlite);
    const Ran logger = run(qvr_test::bin_path("qvr_logger"), Logged{}.arguments(place.writer()));
    ASSERT_EQ(logger.exit_code, 0) << logger.err;
    const std::string missing_file = "Provider=SQLite.File;Data Source=" + place.folder() + "/none.db;PWD=hidden";

    const struct {
        std::vector<std::string> args;
        std::string says;
    } failing[] = {
        {{"/no/such/folder"}, "qvr_viewer: no such data folder: /no/such/folder\n"},
        {{place.writer()}, "names no logger: add ;LoggerName=<logger>"},
        {{missing_file + ";LoggerName=L1"},
         "cannot open Provider=SQLite.File;Data Source=" + place.folder() + "/none.db;PWD={***};LoggerName=L1: " +
             "CAN'T OPEN DATABASE"},
        {{"--csv", "--run", "3", place.reader()}, "no run 3: the location holds 2 run(s) with records"},
        {{"--csv", "--channels", "AI1,NOPE", place.reader()}, "no channel NOPE in the latest run"},
        {{"--header", place.folder()}, "no runs at " + place.folder()},
    };
    for (const auto& f : failing) {
        const Ran ran = run_viewer(f.args);
        EXPECT_EQ(ran.exit_code, 1) << f.says;
        EXPECT_EQ(ran.out, "") << f.says;
        EXPECT_NE(ran.err.find(f.says), std::string::npos) << ran.err;
        EXPECT_EQ(ran.err.find("hidden"), std::string::npos) << "a password was shown: " << ran.err;
    }
    // A folder without runs is listed as such.
    const Ran empty = run_viewer({place.folder()});
    EXPECT_EQ(empty.exit_code, 0) << empty.err;
    EXPECT_EQ(empty.out, "no runs\n");
}

TEST(ViewerCommand, TagsWithCommasQuotesAndAccentsSurviveTheCsv) {
    Place place(Kind::kFolder);
    sim_logger::LoggerOptions options;
    options.location = place.writer();
    options.period_ms = 500;
    // Tags and units as the configuration keeps them, in Windows-1252.
    std::vector<qvr::ChannelRecord> channels{sim_host::analog_input("FLOW,IN", "inlet"),
                                             sim_host::analog_input("SAY \"HI\"", "quoted"),
                                             sim_host::analog_input("TEMP \xB0", "degrees")};
    chanrec_SetUnits(&channels[2], "\xB0" "C");
    options.blocks = {{"AA", 1, 3, false, channels}};
    sim_logger::StandInLogger logger;
    ASSERT_EQ(logger.open(options), 0);
    ASSERT_EQ(logger.start_run(1'700'000'000), 0);
    ASSERT_EQ(logger.append(4), 0);
    ASSERT_EQ(logger.finish_run(1'700'000'003), 0);

    const Ran ran = run_viewer({"--csv", place.reader()});
    ASSERT_EQ(ran.exit_code, 0) << ran.err;
    EXPECT_TRUE(ran.out.starts_with("time,\"FLOW,IN\",\"SAY \"\"HI\"\"\",TEMP \u00B0\n")) << ran.out;
    const auto rows = csv_rows(ran.out);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "FLOW,IN", "SAY \"HI\"", "TEMP \u00B0"}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"2023-11-14T22:13:20.500Z", "0.5", "1.5", "2.5"}));

    // Tags are named as shown, whatever their letter case; units go to the header listing.
    const Ran chosen = run_viewer({"--csv", "--channels", "temp \u00B0,say \"hi\"", place.reader()});
    ASSERT_EQ(chosen.exit_code, 0) << chosen.err;
    EXPECT_TRUE(chosen.out.starts_with("time,TEMP \u00B0,\"SAY \"\"HI\"\"\"\n")) << chosen.out;
    const Ran header = run_viewer({"--header", place.reader()});
    EXPECT_NE(header.out.find("\u00B0" "C"), std::string::npos) << header.out;
}

}  // namespace
