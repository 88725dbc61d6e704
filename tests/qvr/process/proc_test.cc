// Starting processor programs from QVR_BIN: found, started in their folder, waited for.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "host/runtime_host.h"
#include "qvr/host/host_tables.h"
#include "qvr/process/proc.h"
#include "qvr/testing/proc_testing.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace fs = std::filesystem;

namespace {

class ProcStart : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::path(qvr_test::test_root()) / "proc";
        fs::create_directories(root_ / "bin");
        fs::create_directories(root_ / "config" / "TSTPROC");
        // The helper plays the processor program "tstpr_ru".
        fs::create_symlink(qvr_test::bin_path("chan_test_helper"), root_ / "bin" / "tstpr_ru");
        setenv("QVR_BIN", (root_ / "bin").c_str(), 1);
        enable(1);
        ASSERT_EQ(chdir((root_ / "config").c_str()), 0);
        host_.add_process({"TSTPROC", "TEST PROCESSOR", "TP", true, false});
    }
    void TearDown() override {
        if (ProcessRecord* r = host_.process("TSTPROC"); r != nullptr && r->ProcPid > 0) {
            sim_host::HostProcess p(r->ProcPid);
            p.stop(std::chrono::seconds(30));
        }
    }
    void enable(char on) {
        std::ofstream(root_ / "config" / "TSTPROC" / "config", std::ios::binary)
            << on << std::string(4, '\0');
    }
    std::string status() {
        for (const auto& e : host_.status_entries())
            if (e.name == "TEST PROCESSOR") return e.text;
        return "(none)";
    }

    fs::path root_;
    sim_host::RuntimeHost host_;
};

}  // namespace

TEST_F(ProcStart, StartsTheEnabledProgramInItsFolderAndWaitsUntilReady) {
    ProcessRecord* r = host_.process("TSTPROC");
    ASSERT_EQ(proc_Start(r), 0);
    EXPECT_EQ(r->ProcEnabled, 1);
    EXPECT_NE(r->ProcReady, 0);
    EXPECT_EQ(proc_IsAlive(r->ProcPid), 1);
    std::string line;
    std::getline(std::ifstream(root_ / "config" / "TSTPROC" / "started.txt"), line);
    EXPECT_EQ(line, "tstpr_ru 0") << "run in its folder with the argument 0";
    EXPECT_EQ(fs::current_path(), root_ / "config") << "the caller's folder is unchanged";
    sim_host::HostProcess program(r->ProcPid);
    const auto status = program.stop(std::chrono::seconds(30));
    ASSERT_TRUE(status);
    EXPECT_EQ(proc_IsAlive(r->ProcPid), 0) << "ended and reaped";
    r->ProcPid = 0;
}

TEST_F(ProcStart, ADisabledProgramIsNotStarted) {
    enable(0);
    ProcessRecord* r = host_.process("TSTPROC");
    r->ProcEnabled = 1;
    ASSERT_EQ(proc_Start(r), 0);
    EXPECT_EQ(r->ProcEnabled, 0) << "re-read from the folder";
    EXPECT_EQ(r->ProcPid, 0);
}

TEST_F(ProcStart, FailuresSetTheStatusText) {
    ProcessRecord* r = host_.process("TSTPROC");
    fs::remove(root_ / "config" / "TSTPROC" / "config");
    EXPECT_EQ(proc_Start(r), -1);
    EXPECT_EQ(status(), "CAN'T RUN - 0002");
    enable(1);
    fs::remove(root_ / "bin" / "tstpr_ru");
    EXPECT_EQ(proc_Start(r), -1);
    EXPECT_EQ(r->ProcEnabled, 0);
    EXPECT_EQ(status(), "CAN'T RUN - 0002");
}

TEST_F(ProcStart, AProgramThatEndsBeforeItIsReadyFails) {
    setenv("HELPER_EXIT_BEFORE_READY", "1", 1);
    ProcessRecord* r = host_.process("TSTPROC");
    EXPECT_EQ(proc_Start(r), -1);
    EXPECT_EQ(proc_IsAlive(r->ProcPid), 0);
    r->ProcPid = 0;
}

TEST_F(ProcStart, AProgramThatNeverBecomesReadyDoesNotHangItsStarter) {
    setenv("HELPER_NEVER_READY", "1", 1);
    qvr::proc_testing::set_ready_timeout_ms(300);
    ProcessRecord* r = host_.process("TSTPROC");
    EXPECT_EQ(proc_Start(r), -1);
    EXPECT_EQ(errno, 1460);
    EXPECT_EQ(status(), "CAN'T RUN - 1460");
    EXPECT_EQ(proc_IsAlive(r->ProcPid), 1) << "left running for its owner to stop";
}

TEST(ProcRun, NumberedCalculatorsShareOneProgramAndArgumentsFollow) {
    const fs::path bin = fs::path(qvr_test::test_root()) / "bin2";
    fs::create_directories(bin);
    fs::create_symlink(qvr_test::bin_path("chan_test_helper"), bin / "calc_ru");
    setenv("QVR_BIN", bin.c_str(), 1);
    ASSERT_EQ(chdir(qvr_test::test_root().c_str()), 0);
    setenv("HELPER_EXIT_BEFORE_READY", "1", 1);
    ProcessRecord r{};
    std::memcpy(r.ProcName, "CALC12", 6);
    const pid_t pid = proc_Run(&r, "run", 7, "one", "two");
    ASSERT_GT(pid, 0);
    sim_host::HostProcess p(pid);
    EXPECT_TRUE(p.wait(std::chrono::seconds(30)));
    std::string line;
    std::getline(std::ifstream(fs::path(qvr_test::test_root()) / "started.txt"), line);
    EXPECT_EQ(line, "calc_ru 7 one two");
    std::memcpy(r.ProcName, "CALCX", 6);
    EXPECT_EQ(proc_Run(&r, "run", 0), -1) << "\"calcx_ru\" does not exist";
}
