#include "platform/file_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/boot_marker.h"
#include "platform/dynamic_library.h"
#include "support/temp_dir.h"

TEST(FilePaths, FoldersAccessAndTheUserDataFolder) {
    qvr_test::TempDir dir;
    const auto folder = dir / "made";
    EXPECT_EQ(platform::make_directory(folder, 0750), 0);
    EXPECT_EQ(platform::make_directory(folder, 0750), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(platform::make_directory(dir / "a" / "b", 0750), -1);
    EXPECT_TRUE(platform::file_access_allowed(folder, platform::kAccessWrite | platform::kAccessRead));
    EXPECT_FALSE(platform::file_access_allowed(dir / "none", platform::kAccessRead));
    EXPECT_FALSE(platform::file_access_allowed("", platform::kAccessRead));

    setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(platform::user_data_folder(), "/data/home");
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(platform::user_data_folder(), "/home/op/.local/share");
}

TEST(BootMarker, CreatedOnceUntilRemoved) {
    EXPECT_FALSE(platform::boot_marker_exists("TEST"));
    EXPECT_EQ(platform::boot_marker_create("TEST"), 1);
    EXPECT_EQ(platform::boot_marker_create("TEST"), 0);
    EXPECT_TRUE(platform::boot_marker_exists("TEST"));
    EXPECT_EQ(platform::boot_marker_remove("TEST"), 0);
    EXPECT_EQ(platform::boot_marker_create("TEST"), 1);
}

TEST(DynamicLibrary, LoadsByPathAndFailsCleanly) {
    std::string error;
    EXPECT_EQ(platform::library_open("/no/such/library.so", &error), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(platform::library_open(""), nullptr);
    void* math = platform::library_open("libm.so.6");
    ASSERT_NE(math, nullptr);
    EXPECT_NE(platform::library_symbol(math, "cos"), nullptr);
    EXPECT_EQ(platform::library_symbol(math, "no_such_symbol_here"), nullptr);
    EXPECT_EQ(platform::library_close(math), 0);
    EXPECT_EQ(platform::library_close(nullptr), -1);
}
