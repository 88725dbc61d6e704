#include "platform/file_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

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

// Relative paths are taken from the current folder at the call; ".." goes by name.
TEST(FilePaths, AbsolutePathsOfRelativeAndAbsoluteNames) {
    qvr_test::TempDir dir;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::create_directories(dir / "cfg" / "tvall_3");
    std::filesystem::current_path(dir / "cfg" / "tvall_3");
    const std::string here = std::filesystem::current_path().string();
    const std::string cfg = std::filesystem::path(here).parent_path().string();
    const struct {
        const char* path;
        std::string absolute;
    } cases[] = {
        {".", here},
        {"", here},
        {"./", here},
        {"..", cfg},
        {"../tvall_4", cfg + "/tvall_4"},
        {"..\\tvall_4\\", cfg + "/tvall_4"},
        {"./../tvall_3/./LOGGERS//", here + "/LOGGERS"},
        {"/a/b/../c/.", "/a/c"},
        {"/..", "/"},
        {"/", "/"},
        {"\\\\plant\\cfg\\", "//plant/cfg"},
    };
    for (const auto& c : cases) {
        std::string out = "unchanged";
        EXPECT_EQ(platform::absolute_path(c.path, out), 0) << c.path;
        EXPECT_EQ(out, c.absolute) << c.path;
    }
    // A current folder that was removed names nothing: relative paths fail, absolute ones not.
    std::filesystem::current_path(dir / "cfg");
    std::filesystem::remove(dir / "cfg" / "tvall_3");
    std::filesystem::create_directories(dir / "gone");
    std::filesystem::current_path(dir / "gone");
    std::filesystem::remove(dir / "gone");
    std::string out;
    EXPECT_EQ(platform::absolute_path(".", out), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(platform::absolute_path("/x/./y", out), 0);
    EXPECT_EQ(out, "/x/y");
    std::filesystem::current_path(before);
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

TEST(DynamicLibrary, FindsTheFileThatHoldsAnAddressAndGlobalSymbols) {
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    // Code of the program itself: its real path, whatever argv[0] said.
    static int in_program = 0;
    EXPECT_EQ(platform::library_path_of(&in_program), self);
    void* math = platform::library_open("libm.so.6");
    ASSERT_NE(math, nullptr);
    std::string math_file = platform::library_path_of(platform::library_symbol(math, "cos"));
    EXPECT_EQ(math_file.front(), '/');
    EXPECT_NE(math_file.find("libm"), std::string::npos);
    EXPECT_EQ(platform::library_close(math), 0);
    EXPECT_EQ(platform::library_path_of(nullptr), "");
    EXPECT_NE(platform::global_symbol("malloc"), nullptr);
    EXPECT_EQ(platform::global_symbol("no_such_symbol_here"), nullptr);
    EXPECT_EQ(platform::global_symbol(nullptr), nullptr);
}
