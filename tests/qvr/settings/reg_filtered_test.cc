#include "qvr/settings/reg_filtered.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/boot_marker.h"
#include "platform/registry_key.h"
#include "qvr/settings/reg.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using platform::RegistryHive;

// A filter manager on the PATH that records each call's arguments, one line per call.
class FilterManagerStandIn {
  public:
    FilterManagerStandIn() {
        qvr_test::write_file(dir_ / "ewfmgr", "#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/calls.log\"\n");
        ::chmod((dir_ / "ewfmgr").c_str(), 0755);
        const char* path = std::getenv("PATH");
        setenv("PATH", (dir_.str() + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
    }
    std::string calls() const {
        std::error_code ec;
        return std::filesystem::exists(dir_ / "calls.log", ec) ? qvr_test::read_file(dir_ / "calls.log") : "";
    }

  private:
    qvr_test::TempDir dir_;
};

void use_controller_sdk() {
    setenv("QUORVANE_CONTROLLER_SDK", qvr_test::bin_path("libqvr_controller_sdk_standin.so").c_str(), 1);
}

int write_setting(const char* name, const char* text) {
    uint32_t type = kRegSz;
    uint32_t size = static_cast<uint32_t>(std::strlen(text) + 1);
    return reg_AccessProductValue(RegistryHive::machine, kProductKey, platform::kKeySetValue, name, &type,
                                  const_cast<char*>(text), &size);
}

std::string read_setting(const char* name) {
    char buffer[64] = {};
    uint32_t type = 0;
    uint32_t size = sizeof buffer;
    if (reg_AccessProductValue(RegistryHive::machine, kProductKey, platform::kKeyQueryValue, name, &type,
                               buffer, &size) != 0)
        return "<missing>";
    return buffer;
}

}  // namespace

TEST(WriteFilter, FirstWriteSinceStartCommitsAndLaterWritesRunNothing) {
    FilterManagerStandIn manager;
    use_controller_sdk();
    ASSERT_NE(sdk_Probe(), nullptr);
    EXPECT_STREQ(reg_GetProductName(), "Lagoonet");

    ASSERT_EQ(write_setting("First", "1"), 0);
    EXPECT_EQ(manager.calls(), "c: -commitanddisable -live\nc: -enable\n");
    ASSERT_EQ(write_setting("Second", "2"), 0);
    RegistryHive hive = RegistryHive::machine;
    EXPECT_EQ(reg_DeleteProductValue(hive, kProductKey, "Second"), 0);
    EXPECT_EQ(manager.calls(), "c: -commitanddisable -live\nc: -enable\n") << "nothing more in this process";
    EXPECT_EQ(read_setting("First"), "1");
    // The edition's own key got the value.
    platform::RegistryKey edition;
    ASSERT_EQ(
        platform::RegistryKey::open(hive, "SOFTWARE\\Brevantic\\Lagoonet", platform::kKeyQueryValue, edition),
        0);
    EXPECT_EQ(sdk_Release(), 1);
}

TEST(WriteFilter, AnotherProcessOfTheSameBootRunsNothing) {
    FilterManagerStandIn manager;
    use_controller_sdk();
    ASSERT_EQ(platform::boot_marker_create("EWF"), 1);  // as a first process left it
    ASSERT_EQ(write_setting("Value", "x"), 0);
    EXPECT_EQ(manager.calls(), "");
    EXPECT_EQ(read_setting("Value"), "x");
}

TEST(WriteFilter, WithoutTheControllerLibraryNothingRuns) {
    FilterManagerStandIn manager;
    unsetenv("QUORVANE_CONTROLLER_SDK");
    EXPECT_EQ(sdk_Probe(), nullptr);
    ASSERT_EQ(write_setting("Value", "x"), 0);
    EXPECT_EQ(manager.calls(), "");
    EXPECT_FALSE(platform::boot_marker_exists("EWF"));
    EXPECT_STREQ(reg_GetProductName(), "Quorvane");
}

TEST(WriteFilter, AManagerThatCannotStartStopsTheWrite) {
    use_controller_sdk();
    setenv("PATH", "/nonexistent", 1);
    EXPECT_EQ(write_setting("Value", "x"), ENOENT);
    EXPECT_EQ(wf_BeginWrite(), 0);
    unsetenv("QUORVANE_CONTROLLER_SDK");
    EXPECT_EQ(read_setting("Value"), "<missing>");
}

TEST(WriteFilter, AMissingLibraryIsNoControllerPlatform) {
    setenv("QUORVANE_CONTROLLER_SDK", "/nonexistent/CtlSDK.so", 1);
    EXPECT_EQ(sdk_Probe(), nullptr);
    EXPECT_EQ(sdk_Release(), 1);
    EXPECT_STREQ(reg_GetProductName(), "Quorvane");
}
