// The run file store's text slots on the run's companion: each writes its own section, the
// UTF-16 forms work beside the run, and the text time takes the events file into account.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "log_stores/run_file_store/run_file_store.h"
#include "product_settings.h"
#include "run_file_fixture.h"
#include "support/temp_dir.h"

namespace {

using log_stores::CLogFileStore;
using namespace run_file_test;
namespace fs = std::filesystem;

using log_stores_test::set_product_value;

void set_write_time(const fs::path& path, std::int64_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class RunFileText : public testing::Test {
  protected:
    void SetUp() override {
        const auto h = make_header(1, 2);
        const Configurations configs = make_configurations(h);
        ASSERT_EQ(store_.CreateRunFile(run_.c_str(), h, nullptr, configs.get()), 0);
    }
    std::string section(const char* name) {
        char out[4096] = {};
        std::size_t size = sizeof out;
        const int lines = store_.ReadSection(name, out, &size, 0, 0);
        return lines < 0 ? "<" + std::to_string(lines) + ">" : std::string(out);
    }

    qvr_test::TempDir dir_;
    fs::path run_ = dir_ / "LG_201120_080000.qdl";
    fs::path companion_ = dir_ / "LG_201120_080000.txt";
    CLogFileStore store_;
};

TEST_F(RunFileText, EachSlotWritesItsOwnSection) {
    EXPECT_EQ(store_.AddText(1'605'859'200, "Pump started", nullptr, nullptr), 0);
    EXPECT_EQ(store_.AddText(1'605'859'260, "High level", nullptr, "ALARMS"), 0);
    EXPECT_EQ(store_.AddPosition(1'605'859'300, true, 1.5f), 0);
    EXPECT_EQ(store_.WriteHeaderText("Operator A\r\n"), 1);
    EXPECT_EQ(store_.WriteFormulae("ABC", 3, "F=2*x\r\n"), 1);
    EXPECT_EQ(store_.WriteUnitCategory("PRESS", "bar\r\n"), 1);
    EXPECT_NE(section("TEXT").find("Pump started"), std::string::npos) << section("TEXT");
    EXPECT_EQ(section("TEXT").find("High level"), std::string::npos);
    EXPECT_NE(section("ALARMS").find("High level"), std::string::npos);
    EXPECT_NE(section("POSITIONS").find("1.500000"), std::string::npos) << section("POSITIONS");
    EXPECT_EQ(section("HEADER"), "Operator A\r\n");
    EXPECT_EQ(section("AB_3_FORMULAE"), "F=2*x\r\n");
    EXPECT_EQ(section("PRESS_UNIT_CATEGORY"), "bar\r\n");

    EXPECT_EQ(store_.AddTextW(1'605'859'400, u"Valve shut", nullptr, nullptr), 0);
    char16_t wide[512] = {};
    std::size_t size = 512;
    EXPECT_EQ(store_.ReadSectionW("TEXT", wide, &size, 0, 0), 2);
    EXPECT_NE(std::u16string(wide).find(u"Valve shut"), std::u16string::npos);
    const char* lines[4] = {};
    std::size_t count = 4;
    char buffer[512];
    std::size_t bytes = sizeof buffer;
    EXPECT_EQ(store_.ReadSectionLines("HEADER", lines, &count, buffer, &bytes, 0, 0), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(lines[0], "Operator A");
}

TEST_F(RunFileText, TheTextTimeIsTheLaterOfCompanionAndEventsFile) {
    std::int32_t seconds = 0;
    EXPECT_EQ(store_.GetTextTime(seconds), -1);  // no companion yet
    ASSERT_EQ(store_.WriteHeaderText("h\r\n"), 1);
    set_write_time(companion_, 1'700'000'000);
    qvr_test::write_file(dir_ / "events.txt", "");
    set_write_time(dir_ / "events.txt", 1'700'000'500);
    ASSERT_EQ(store_.GetTextTime(seconds), 0);
    EXPECT_EQ(seconds, 1'700'000'000);  // events file not in use

    set_product_value("EventsTextFile", "ON");
    ASSERT_EQ(store_.GetTextTime(seconds), 0);
    EXPECT_EQ(seconds, 1'700'000'500);
    set_write_time(dir_ / "events.txt", 1'699'999'000);
    ASSERT_EQ(store_.GetTextTime(seconds), 0);
    EXPECT_EQ(seconds, 1'700'000'000);
    fs::remove(dir_ / "events.txt");
    ASSERT_EQ(store_.GetTextTime(seconds), 0);
    EXPECT_EQ(seconds, 1'700'000'000);
}

}  // namespace
