// The print entry points called through dlopen, as the configuration program calls them,
// on the recording back end and on the library's Qt back end.
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "TOLVA_CF/logic/line_printer.h"
#include "TOLVA_CF/logic/recording_print_target.h"
#include "library_fixture.h"
#include "pdf_text.h"
#include "platform/last_error.h"
#include "printout_pages.h"
#include "support/temp_dir.h"

namespace {

using namespace tolva_cf_test;
using qvr::ChannelRecord;
using tolva::cf::RecordingPrintTarget;

class PrintExportsTest : public LibraryTest {};

std::vector<ChannelRecord> analog_table(int count) {
    std::vector<ChannelRecord> table;
    for (int i = 1; i <= count; ++i) table.push_back(plain_analog(fmt("T%d", i).c_str()));
    return table;
}

TEST_F(PrintExportsTest, PrintConfigRangesAndRefusals) {
    auto device = host_device();
    set_kind(device, 0, "A1", 5);
    const auto table = analog_table(5);

    RecordingPrintTarget printer;
    ASSERT_EQ(print_config(&printer.target(), "PLANT1", &device, 0, 2, 3, nullptr, table.data()), 0);
    Page expected = analog_heading();
    append(expected, plain_analog_lines("A12", "T2"));
    append(expected, plain_analog_lines("A13", "T3"));
    EXPECT_EQ(printer.pages, Pages{expected});
    EXPECT_EQ(printer.open_pages, 0);

    struct Case {
        const char* what;
        int kind, first, last;
    };
    for (const Case& c : {Case{"last beyond the table", 0, 1, 6}, Case{"last before first", 0, 4, 3},
                          Case{"negative first", 0, -2, 3}, Case{"kind without a table", 1, 0, 0},
                          Case{"no such kind", 7, 0, 0}}) {
        RecordingPrintTarget refused;
        EXPECT_EQ(print_config(&refused.target(), "PLANT1", &device, c.kind, c.first, c.last, nullptr, table.data()),
                  -1)
            << c.what;
        EXPECT_EQ(errno, platform::kErrorInvalidParameter) << c.what;
        EXPECT_TRUE(refused.pages.empty()) << c.what;
    }
    RecordingPrintTarget unused;
    EXPECT_EQ(print_config(nullptr, "PLANT1", &device, 0, 0, 0, nullptr, table.data()), -1);
    EXPECT_EQ(print_config(&unused.target(), "PLANT1", nullptr, 0, 0, 0, nullptr, table.data()), -1);
    unused.target().char_height = 0;
    EXPECT_EQ(print_config(&unused.target(), "PLANT1", &device, 0, 0, 0, nullptr, table.data()), -1);
    EXPECT_TRUE(unused.pages.empty());
}

TEST_F(PrintExportsTest, PrintAllConfigWithRecordsLeavesThemUnchanged) {
    auto device = host_device(4);
    set_kind(device, 0, "A1", 2);
    set_kind(device, 1, "D1", 1);
    tolva::DeviceConfigRecord config{};
    config.ScanRate = 1500;
    const auto config_before = config;
    const auto analog = analog_table(2);
    const std::vector<ChannelRecord> digital{digital_channel("DOOR_1")};
    const ChannelRecord* tables[5] = {analog.data(), digital.data(), nullptr, nullptr, nullptr};

    RecordingPrintTarget printer;
    ASSERT_EQ(print_all(&printer.target(), "PLANT1", &device, 1, 0, 0, 0, &config, tables), 0);
    ASSERT_EQ(printer.pages.size(), 2u);
    EXPECT_EQ(printer.pages[0].at(6), "        SCAN RATE 00(min) 01(sec) 500(ms)");
    EXPECT_EQ(printer.pages[0].at(9), fmt("        PORT [%-6.6s]                      BAUD RATE [%-6d]", "COM4", 19200));
    EXPECT_EQ(printer.pages[0].at(19), analog_heading()[0]);
    EXPECT_EQ(printer.pages[1].at(0), digital_heading()[0]);
    EXPECT_EQ(std::memcmp(&config, &config_before, sizeof config), 0);
    EXPECT_EQ(printer.open_pages, 0);
}

TEST_F(PrintExportsTest, AFailedJobLeavesNothingBehindForTheNext) {
    auto device = host_device();
    set_kind(device, 0, "A1", 6);
    const auto table = analog_table(6);
    RecordingPrintTarget failing(7);
    failing.fail_start_of_page = 1;
    EXPECT_EQ(print_config(&failing.target(), "PLANT1", &device, 0, 0, 0, nullptr, table.data()), -1);

    RecordingPrintTarget next(7);
    ASSERT_EQ(print_config(&next.target(), "PLANT1", &device, 0, 6, 6, nullptr, table.data()), 0);
    Page expected = analog_heading();
    append(expected, plain_analog_lines("A16", "T6"));
    EXPECT_EQ(next.pages, Pages{expected});
}

// The cursor seen while the library draws.
struct CursorProbe {
    RecordingPrintTarget recording;
    TolvaPrintTarget target{};
    std::vector<int> shapes;  // -1: no override cursor

    CursorProbe() {
        target = recording.target();
        target.context = this;
        target.start_page = [](void* c) { return self(c).recording.target().start_page(&self(c).recording); };
        target.end_page = [](void* c) { return self(c).recording.target().end_page(&self(c).recording); };
        target.draw_text = [](void* c, int x, int y, const char* text, int length) {
            const QCursor* cursor =
                QCoreApplication::instance() != nullptr ? QGuiApplication::overrideCursor() : nullptr;
            self(c).shapes.push_back(cursor != nullptr ? static_cast<int>(cursor->shape()) : -1);
            self(c).recording.target().draw_text(&self(c).recording, x, y, text, length);
        };
    }
    static CursorProbe& self(void* c) { return *static_cast<CursorProbe*>(c); }
};

TEST_F(PrintExportsTest, WaitCursorWhilePrintingWhenTheProgramHasAnApplication) {
    auto device = host_device();
    set_kind(device, 0, "A1", 2);
    const auto table = analog_table(2);
    {
        CursorProbe without_application;
        ASSERT_EQ(print_config(&without_application.target, "PLANT1", &device, 0, 0, 0, nullptr, table.data()), 0);
        ASSERT_FALSE(without_application.shapes.empty());
        for (int shape : without_application.shapes) EXPECT_EQ(shape, -1);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int argc = 1;
    char name[] = "TOLVA_CF_test";
    char* argv[] = {name, nullptr};
    auto application = std::make_unique<QApplication>(argc, argv);
    CursorProbe probe;
    ASSERT_EQ(print_config(&probe.target, "PLANT1", &device, 0, 0, 0, nullptr, table.data()), 0);
    ASSERT_FALSE(probe.shapes.empty());
    for (int shape : probe.shapes) EXPECT_EQ(shape, static_cast<int>(Qt::WaitCursor));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the wait cursor stayed";
}

TEST_F(PrintExportsTest, QtBackEndWritesTheRecordedPagesToAPdf) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qvr_test::TempDir dir;
    const std::string pdf = (dir / "listing.pdf").string();
    TolvaPrintTarget* qt = open_qt(pdf.c_str());
    ASSERT_NE(qt, nullptr);
    ASSERT_NE(qt->release, nullptr);
    const int lines = tolva::cf::LinePrinter::lines_per_page(*qt);
    ASSERT_GE(lines, 20);

    // One channel more than a page holds.
    const int per_page = (lines - 3) / 2;
    auto device = host_device();
    set_kind(device, 0, "A1", per_page + 1);
    const auto table = analog_table(per_page + 1);
    ASSERT_EQ(print_config(qt, "PLANT1", &device, 0, 0, 0, nullptr, table.data()), 0);
    ASSERT_EQ(qt->release(qt), 0);

    RecordingPrintTarget recording(lines);
    ASSERT_EQ(print_config(&recording.target(), "PLANT1", &device, 0, 0, 0, nullptr, table.data()), 0);
    ASSERT_EQ(recording.pages.size(), 2u);

    EXPECT_EQ(pdf_pages(pdf), 2);
    EXPECT_EQ(pdf_page_lines(pdf), without_blank_lines(recording.pages));
}

TEST_F(PrintExportsTest, QtBackEndDrawsRecordTextsAsWindows1252) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qvr_test::TempDir dir;
    const std::string pdf = (dir / "texts.pdf").string();
    TolvaPrintTarget* qt = open_qt(pdf.c_str());
    ASSERT_NE(qt, nullptr);
    // The euro sign and the curly quotes sit where Latin-1 has control characters.
    const std::string text = "Caf\xE9 \x80 5 \x93ok\x94";
    ASSERT_EQ(qt->start_page(qt->context), 0);
    qt->draw_text(qt->context, qt->offset_x, qt->offset_y, text.data(), static_cast<int>(text.size()));
    ASSERT_EQ(qt->release(qt), 0);
    const std::string shown = run_tool("/usr/bin/pdftotext", {"-enc", "UTF-8", pdf, "-"});
    EXPECT_NE(shown.find("Caf\xC3\xA9 \xE2\x82\xAC 5 \xE2\x80\x9Cok\xE2\x80\x9D"), std::string::npos) << shown;
}

TEST_F(PrintExportsTest, QtBackEndRefusesAPdfThatCannotBeWritten) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qvr_test::TempDir dir;
    const std::string pdf = (dir / "no such folder" / "listing.pdf").string();
    TolvaPrintTarget* qt = open_qt(pdf.c_str());
    if (qt == nullptr) return;  // refused at once
    auto device = host_device();
    set_kind(device, 0, "A1", 1);
    const auto table = analog_table(1);
    EXPECT_EQ(print_config(qt, "PLANT1", &device, 0, 0, 0, nullptr, table.data()), -1);
    qt->release(qt);
    EXPECT_FALSE(std::filesystem::exists(pdf));
}

}  // namespace
