// The requests against the qvr_server tool running as a process of its own, with a product
// tree: files fetched from it, and lists from DATPROC.TXT when it refuses them.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/requests/remote_file_requests.h"
#include "qvr/testing/link_testing.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

class ServerProcess : public testing::Test {
  protected:
    void start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--root", root_.str(), "--for", "60"});
        child_ = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_server"), args, {}, true);
        const std::string out = child_.read_stdout(10s, "listening ");
        ASSERT_NE(out.find("listening "), std::string::npos) << out;
        setenv("QVR_CURRENT_CONFIG", (root_.path() / "CURRENT_CONFIG").c_str(), 1);
    }
    void TearDown() override {
        qvr::link_testing::reset_table();
        if (child_.running()) child_.kill(SIGTERM);
        child_.wait(10s);
    }
    qvr_test::TempDir root_;
    qvr_test::ChildProcess child_;
};

TEST_F(ServerProcess, FetchesAFileFromItsTree) {
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
    qvr_test::write_file(root_.path() / "CURRENT_CONFIG/PLC_1/config", content);
    start({});
    const std::string target = (root_.path() / "fetched").string();
    ASSERT_EQ(cfg_FetchRemoteFile(".", "PLC_1", "config", target.c_str()), 0) << errno;
    EXPECT_EQ(qvr_test::read_file(target), content);
    const std::string out = child_.read_stdout(5s, "request pipe 0 RF,");
    EXPECT_NE(out.find("request pipe 0 SF,QVR_CURRENT_CONFIG\\x5CPLC_1\\x5Cconfig\\x09"), std::string::npos)
        << out;
}

TEST_F(ServerProcess, ARefusedListComesFromDatproc) {
    qvr_test::write_file(root_.path() / "CURRENT_CONFIG/DATPROC.TXT", "CALC1,Calculator,A-AA:10,run\n");
    start({"--reply", "IP=-1,5"});
    ProcessorRecord r[2];
    ASSERT_EQ(GetProcessorInfo(".", "*,2", r, 2), 1);
    EXPECT_STREQ(r[0].name, "CALC1");
    // The tool's own tables are empty.
    EXPECT_EQ(GetProcessorInfo(".", "*,2", r, 2), 0);
    EXPECT_EQ(CountProcessors("."), 0);
}

}  // namespace
