// The test environment removes what crashed or killed test processes left behind, and
// nothing of a process that still runs.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

// A pid that certainly belongs to no process: a child that has been reaped.
pid_t ended_pid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

bool make_object(const std::string& name) {
    const int fd = shm_open(("/" + name).c_str(), O_CREAT | O_RDWR, 0600);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool object_exists(const std::string& name) {
    return fs::exists(fs::path("/dev/shm") / name);
}

TEST(TestEnvironment, LeftoversOfEndedTestProcessesAreRemovedAndThoseOfRunningOnesKept) {
    const std::string dead = std::to_string(ended_pid());
    const std::string alive = std::to_string(getppid());
    const fs::path tmp = fs::temp_directory_path();
    const std::string dead_object = "qt" + dead + "_Global\\dm_A1";
    const std::string alive_object = "qt" + alive + "_Global\\dm_A1";
    ASSERT_TRUE(make_object(dead_object));
    ASSERT_TRUE(make_object(alive_object));
    fs::create_directories(tmp / ("qvrtest." + dead + ".abcdef") / "run");
    fs::create_directories(tmp / ("qvr_host." + dead + ".1") / "CURRENT_CONFIG");
    fs::create_directories(tmp / ("qvrtest." + alive + ".abcdef"));

    qvr_test::remove_leftovers_of_ended_tests();

    EXPECT_FALSE(object_exists(dead_object));
    EXPECT_FALSE(fs::exists(tmp / ("qvrtest." + dead + ".abcdef")));
    EXPECT_FALSE(fs::exists(tmp / ("qvr_host." + dead + ".1")));
    EXPECT_TRUE(object_exists(alive_object));
    EXPECT_TRUE(fs::exists(tmp / ("qvrtest." + alive + ".abcdef")));
    shm_unlink(("/" + alive_object).c_str());
    fs::remove_all(tmp / ("qvrtest." + alive + ".abcdef"));
}

}  // namespace
