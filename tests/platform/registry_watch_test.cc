#include "platform/registry_watch.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry_key.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_env.h"

namespace {

using namespace std::chrono_literals;
using platform::RegistryHive;
using platform::RegistryWatch;

constexpr const char* kTraceKey = "SOFTWARE\\Brevantic\\Quorvane";

// Sets a value from another process and waits until it has finished, so every file event
// it caused is queued before the test looks.
void set_from_child(const std::string& key, const std::string& name, const std::string& text) {
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("registry_client"),
                                               {"set", "machine", key, name, text});
    ASSERT_EQ(child.wait_exit_code(60s), 0);
}

TEST(RegistryWatch, SeesAnotherProcessChangeTheKeyAndNothingElse) {
    RegistryWatch watch;
    ASSERT_EQ(RegistryWatch::start(RegistryHive::machine, kTraceKey, watch), 0);
    EXPECT_FALSE(watch.changed());

    set_from_child(kTraceKey, "Scanner_Debug", "ON");
    EXPECT_TRUE(watch.changed());
    EXPECT_FALSE(watch.changed());  // reported once

    // A key beside it, the other hive and a rewrite with the same contents are not changes.
    set_from_child("SOFTWARE\\Brevantic\\Rimvale", "Scanner_Debug", "ON");
    platform::RegistryKey user;
    ASSERT_EQ(platform::RegistryKey::create(RegistryHive::user, kTraceKey, platform::kKeyAllAccess, user), 0);
    ASSERT_EQ(user.set_string("Scanner_Debug", "ON"), 0);
    set_from_child(kTraceKey, "Scanner_Debug", "ON");
    EXPECT_FALSE(watch.changed());

    // A key below the watched one is part of it.
    set_from_child(std::string(kTraceKey) + "\\SerialPorts", "COM1", "/dev/ttyUSB0");
    EXPECT_TRUE(watch.changed());
}

TEST(RegistryWatch, SeesAHandEditInPlace) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(RegistryHive::machine, kTraceKey, platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("Scanner_Debug", "OFF"), 0);
    RegistryWatch watch;
    ASSERT_EQ(RegistryWatch::start(RegistryHive::machine, kTraceKey, watch), 0);
    qvr_test::write_file(platform::registry_hive_file(RegistryHive::machine),
                         "REGEDIT4\n\n[SOFTWARE\\Brevantic\\Quorvane]\n\"Scanner_Debug\"=\"ON\"\n");
    // The descriptor is readable once the folder changed, for callers that poll.
    pollfd p{watch.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 1);
    EXPECT_TRUE(watch.changed());
}

TEST(RegistryWatch, WatchesAHiveWhoseFolderDoesNotExistYet) {
    // A machine where nothing was ever configured: even the folder is missing.
    const std::string folder = qvr_test::test_root() + "/fresh/etc/brevantic";
    ASSERT_EQ(setenv("BREVANTIC_REGISTRY_DIR", folder.c_str(), 1), 0);
    RegistryWatch watch;
    ASSERT_EQ(RegistryWatch::start(RegistryHive::machine, kTraceKey, watch), 0);
    EXPECT_FALSE(watch.changed());

    set_from_child("SOFTWARE\\Elsewhere", "X", "1");  // creates the folders and the file
    EXPECT_FALSE(watch.changed());
    set_from_child(kTraceKey, "Scanner_Debug", "ON");
    EXPECT_TRUE(watch.changed());
}

TEST(RegistryWatch, WaitReturnsWhenTheKeyChanges) {
    RegistryWatch watch;
    ASSERT_EQ(RegistryWatch::start(RegistryHive::machine, kTraceKey, watch), 0);
    EXPECT_FALSE(watch.wait(1ms));
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("registry_client"),
                                               {"set", "machine", kTraceKey, "Scanner_Debug", "ON"});
    EXPECT_TRUE(watch.wait(60s));
    EXPECT_EQ(child.wait_exit_code(60s), 0);
}

TEST(RegistryWatch, RefusesABadPath) {
    RegistryWatch watch;
    EXPECT_EQ(RegistryWatch::start(RegistryHive::machine, "A\\\\B", watch), platform::kErrorInvalidParameter);
    EXPECT_FALSE(watch.active());
    EXPECT_FALSE(watch.changed());
}

}  // namespace
