// Where a product folder of a server lies, as seen from here: data paths searched upwards,
// other machines through their UNC paths or the local variable, this machine locally.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry_key.h"
#include "platform/remote_path.h"
#include "qvr/link/link.h"
#include "qvr/settings/env.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/settings_testing.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class ResolveFolder : public testing::Test {
  protected:
    void SetUp() override {
        qvr::reset_product_settings_for_test();
        set_machine_value(kProductKey, "Root:", (dir_.path() / "root").string());
        for (const char* name : {"QVR_CONFIG", "QVR_REPLAY_OPTIONS", "QVR_LOGGED_DATA", "QVR_CURRENT_CONFIG", "DATA"})
            unsetenv(name);
    }
    void TearDown() override {
        unsetenv("QVR_CONFIG");
        unsetenv("QVR_REPLAY_OPTIONS");
    }
    static void set_machine_value(const char* key_path, const std::string& name, const std::string& value) {
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, key_path, platform::kKeyAllAccess,
                                                key),
                  0);
        ASSERT_EQ(key.set_string(name, value), 0);
    }
    static std::string local(const char* name) { return env_GetProductFolder(name); }
    static std::string resolve(const std::string& server, const char* name) {
        const char* path = link_ResolveFolder(server.c_str(), name);
        return path != nullptr ? path : "(null)";
    }

    qvr_test::TempDir dir_;
};

TEST_F(ResolveFolder, DataPathIsSearchedUpwardsForAFolderThatHoldsFiles) {
    const fs::path data = dir_.path() / "plant" / "area" / "run1";
    fs::create_directories(data);
    fs::create_directories(dir_.path() / "plant" / "area" / "CONFIG" / "only-a-subfolder");
    qvr_test::write_file(dir_.path() / "plant" / "CONFIG" / "devices.xml", "<x/>");
    EXPECT_EQ(resolve(data.string(), "QVR_CONFIG"), (dir_.path() / "plant" / "CONFIG").string());
    // Nothing found up to the root: the local folder.
    EXPECT_EQ(resolve(data.string(), "QVR_NOWHERE"), local("QVR_NOWHERE"));
}

TEST_F(ResolveFolder, TableOfServersAndNames) {
    const std::string data = (dir_.path() / "run1").string();
    EXPECT_EQ(resolve(data, "QVR_LOGGED_DATA"), data);
    EXPECT_EQ(resolve(data, "QVR_CURRENT_CONFIG"), local("QVR_CURRENT_CONFIG"));
    EXPECT_EQ(resolve("PROVIDER=sqlite", "QVR_CONFIG"), local("QVR_CONFIG"));
    EXPECT_EQ(resolve("PROVIDER=sqlite", "QVR_LOGGED_DATA"), "PROVIDER=sqlite");
    EXPECT_EQ(resolve(".", "QVR_CONFIG"), local("QVR_CONFIG"));
    EXPECT_EQ(resolve("localhost", "QVR_CONFIG"), local("QVR_CONFIG"));
    EXPECT_STREQ(link_ResolveFolder(nullptr, "QVR_CONFIG"), local("QVR_CONFIG").c_str());
    EXPECT_EQ(resolve("plant2", "QVR_CONFIG"), "\\\\plant2\\Quorvane\\CONFIG");
    EXPECT_EQ(resolve("plant2", "DATA"), "\\\\plant2\\DATA");
    EXPECT_EQ(link_ResolveFolder("plant2", nullptr), nullptr);
}

TEST_F(ResolveFolder, LocalVariableWinsForARemoteServer) {
    setenv("QVR_CONFIG", "/srv/shared/config", 1);
    EXPECT_EQ(resolve("plant2", "QVR_CONFIG"), "/srv/shared/config");
    setenv("QVR_CONFIG", "x", 1);  // one character is not a folder
    EXPECT_EQ(resolve("plant2", "QVR_CONFIG"), "\\\\plant2\\Quorvane\\CONFIG");
}

TEST_F(ResolveFolder, ReplayOptionsOfAMappedMachineIsCreatedThere) {
    const fs::path mount = dir_.path() / "mnt" / "plant2";
    set_machine_value(platform::kRemoteMachinesKey, "PLANT2", mount.string());
    EXPECT_EQ(resolve("plant2", "QVR_REPLAY_OPTIONS"), "\\\\plant2\\Quorvane\\REPLAY_OPTIONS");
    EXPECT_TRUE(fs::is_directory(mount / "Quorvane" / "REPLAY_OPTIONS"));
    EXPECT_EQ(resolve("plant2", "qvr_exported_data"), "\\\\plant2\\qvr_exported_data");  // no prefix: no product
}

TEST_F(ResolveFolder, ReplayOptionsOfAnUnmappedMachineIsTheLocalFolder) {
    EXPECT_EQ(resolve("plant3", "QVR_REPLAY_OPTIONS"), local("QVR_REPLAY_OPTIONS"));
    EXPECT_EQ(resolve("plant3", "QVR_EXPORTED_IMAGES"), local("QVR_EXPORTED_IMAGES"));
}

TEST(RemotePath, MapsThroughTheMachinesEntryAndRefusesDotDot) {
    qvr_test::TempDir dir;
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, platform::kRemoteMachinesKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("plant2", dir.str() + "/"), 0);
    std::string local;
    ASSERT_EQ(platform::map_remote_path("\\\\PLANT2\\share\\a/b.txt", local), 0);
    EXPECT_EQ(local, dir.str() + "/share/a/b.txt");
    EXPECT_EQ(platform::map_remote_path("\\\\plant2\\share\\..\\..\\etc", local), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(platform::map_remote_path("\\\\plant9\\share", local), -1);
    EXPECT_EQ(errno, 53);
    ASSERT_EQ(platform::map_remote_path("/var/lib/x", local), 0);
    EXPECT_EQ(local, "/var/lib/x");
    // Where a file is opened, also once the separators were turned.
    ASSERT_EQ(platform::path_to_open("//plant2/share/a/b.txt", local), 0);
    EXPECT_EQ(local, dir.str() + "/share/a/b.txt");
    ASSERT_EQ(platform::path_to_open("\\\\plant2/share\\c", local), 0);
    EXPECT_EQ(local, dir.str() + "/share/c");
    EXPECT_EQ(platform::path_to_open("//plant9/share", local), -1);
    EXPECT_EQ(errno, 53);
    ASSERT_EQ(platform::path_to_open("/var/lib/x", local), 0);
    EXPECT_EQ(local, "/var/lib/x");
}

}  // namespace
