// Starting processor programs from QVR_BIN: found, started in their folder, waited for.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "host/runtime_host.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
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

namespace {

// A processor followed in the table by another, with names of each case's own, so records
// that other cases left in the tables do not match. Its program is "<first 5>_ru".
class ProcStartReordered : public ::testing::Test {
  protected:
    void prepare(const std::string& name, const std::string& next) {
        name_ = name;
        root_ = fs::path(qvr_test::test_root()) / ("proc_" + name);
        fs::remove_all(root_);
        fs::create_directories(root_ / "bin");
        fs::create_directories(folder());
        std::string program = name.substr(0, 5) + "_ru";
        for (char& c : program) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        fs::create_symlink(qvr_test::bin_path("chan_test_helper"), root_ / "bin" / program);
        setenv("QVR_BIN", (root_ / "bin").c_str(), 1);
        std::ofstream(folder() / "config", std::ios::binary) << '\1' << std::string(4, '\0');
        ASSERT_EQ(chdir((root_ / "config").c_str()), 0);
        ASSERT_GE(host_.add_process({name, name + " PROCESSOR", "", true, false}), 0);
        ASSERT_GE(host_.add_process({next, next + " PROCESSOR", "", false, false}), 0);
        unsetenv("HELPER_EXIT_BEFORE_READY");
        unsetenv("HELPER_NEVER_READY");
        // The program gets ready only once the file "go" is in its folder.
        setenv("HELPER_READY_WHEN", "go", 1);
        qvr::proc_testing::set_ready_timeout_ms(20000);
    }
    void TearDown() override {
        unsetenv("HELPER_READY_WHEN");
        qvr::proc_testing::set_ready_timeout_ms(kProcReadyTimeoutMs);
        if (ProcessRecord* r = host_.process(name_); r != nullptr && r->ProcPid > 0) {
            sim_host::HostProcess p(r->ProcPid);
            p.stop(std::chrono::seconds(30));
            r->ProcPid = 0;
        }
    }
    fs::path folder() const { return root_ / "config" / name_; }
    // Runs `step` on another thread once the program has started.
    std::thread once_started(std::function<void()> step) const {
        return std::thread([this, step] {
            for (int i = 0; i < 3000 && !fs::exists(folder() / "started.txt"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            step();
        });
    }

    std::string name_;
    fs::path root_;
    sim_host::RuntimeHost host_;
};

}  // namespace

// Another process reorders the table while the program gets ready: the start follows its
// own record by name and leaves the record that took its old place alone.
TEST_F(ProcStartReordered, TheReadyWaitFollowsItsRecordByName) {
    ASSERT_NO_FATAL_FAILURE(prepare("MOVPROC", "MOVLATER"));
    ProcessRecord* r = host_.process("MOVPROC");
    ASSERT_NE(r, nullptr);
    std::atomic<bool> moved{false};
    std::thread mover = once_started([&] {
        moved = shm_MoveProcessLast("MOVPROC") == 0;
        std::ofstream(folder() / "go") << "go\n";
    });
    const int rc = proc_Start(r);
    mover.join();
    ASSERT_TRUE(moved);
    ProcessRecord* now = host_.process("MOVPROC");
    ASSERT_NE(now, r) << "the record moved";
    EXPECT_EQ(rc, 0) << "ready in its new place";
    EXPECT_GT(now->ProcPid, 0);
    EXPECT_NE(now->ProcReady, 0);
    EXPECT_EQ(std::string(r->ProcName), "MOVLATER");
    EXPECT_EQ(r->ProcPid, 0) << "the record in the old place is not written";
    EXPECT_EQ(r->ProcReady, 0);
}

// A record that leaves the table while its program gets ready ends the start at once.
TEST_F(ProcStartReordered, ARecordThatLeavesTheTableEndsTheStart) {
    ASSERT_NO_FATAL_FAILURE(prepare("GONPROC", "GONLATER"));
    ProcessRecord* r = host_.process("GONPROC");
    ASSERT_NE(r, nullptr);
    void* table = qvr::process_table();
    ASSERT_NE(table, nullptr);
    const auto bytes = qvr::section_bytes(table);
    auto change_count = [&](int by) {
        shm_Lock(table);
        qvr::store_u32(bytes, qvr::kTableCountOffset,
                       static_cast<uint32_t>(static_cast<int>(qvr::load_u32(bytes, qvr::kTableCountOffset)) + by));
        shm_Unlock(table);
    };
    std::atomic<bool> moved{false};
    std::thread remover = once_started([&] {
        // Last in the table, then outside its count.
        moved = shm_MoveProcessLast("GONPROC") == 0;
        if (moved) change_count(-1);
    });
    const auto started = std::chrono::steady_clock::now();
    const int rc = proc_Start(r);
    const int error = errno;
    const auto took = std::chrono::steady_clock::now() - started;
    remover.join();
    ASSERT_TRUE(moved);
    change_count(+1);  // back in the table, so the program is stopped after the case
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(error, 2);
    EXPECT_LT(took, std::chrono::seconds(15)) << "not the ready time-out";
    EXPECT_EQ(std::string(r->ProcName), "GONLATER");
    EXPECT_EQ(r->ProcPid, 0) << "the record in the old place is not written";
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
