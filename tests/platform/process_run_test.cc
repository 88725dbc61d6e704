#include "platform/process_run.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "platform/last_error.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;

TEST(RunProgram, ArgumentsReachTheChildUntouched) {
    const std::string tricky = "a \"quoted\" $(touch x) ; `b` 'c'\\";
    platform::RunOptions options;
    options.capture_stdout = true;
    platform::RunResult result;
    ASSERT_EQ(platform::run_program({"printf", "%s|", tricky, ""}, options, result), 0);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, tricky + "||");
}

TEST(RunProgram, OutputAndErrorArriveOnTheirOwnPipes) {
    platform::RunOptions options;
    options.capture_stdout = true;
    options.capture_stderr = true;
    platform::RunResult result;
    // More than a pipe holds on both streams: neither may block the other.
    ASSERT_EQ(platform::run_program(
                  {"sh", "-c",
                   "i=0; while [ $i -lt 3000 ]; do echo out$i; echo err$i >&2; i=$((i+1)); done; exit 7"},
                  options, result),
              0);
    EXPECT_EQ(result.exit_code, 7);
    EXPECT_EQ(result.out.rfind("out2999\n"), result.out.size() - 8);
    EXPECT_EQ(result.err.rfind("err2999\n"), result.err.size() - 8);
    EXPECT_EQ(result.out.find("err"), std::string::npos);
}

TEST(RunProgram, WorkingFolderAndNoInput) {
    qvr_test::TempDir dir;
    platform::RunOptions options;
    options.working_dir = dir.path();
    options.capture_stdout = true;
    platform::RunResult result;
    ASSERT_EQ(platform::run_program({"sh", "-c", "pwd; cat"}, options, result), 0);
    EXPECT_EQ(result.out, dir.str() + "\n");
}

TEST(RunProgram, StartFailuresAndTimeOuts) {
    platform::RunResult result;
    EXPECT_EQ(platform::run_program({"no-such-program-here"}, {}, result), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(platform::run_program({"/no/such/program"}, {}, result), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(platform::run_program({}, {}, result), -1);

    platform::RunOptions options;
    options.timeout = 200ms;
    EXPECT_EQ(platform::run_program({"sleep", "30"}, options, result), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorTimeout);

    ASSERT_EQ(platform::run_program({"sh", "-c", "kill -TERM $$"}, {}, result), 0);
    EXPECT_EQ(result.exit_code, 128 + 15);
}
