// The product-server stand-in: its dispatcher, its pipe front end over real sockets with
// scripted replies and faults, its product tree, and the qvr_server tool as a process.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc_names.h"
#include "platform/last_error.h"
#include "platform/pipe_socket.h"
#include "server/dispatcher.h"
#include "server/pipe_front.h"
#include "server/product_tree.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using platform::Deadline;
using platform::PipeConnection;
using sim_server::Dispatcher;
using sim_server::Fault;
using sim_server::PipeFront;

std::span<const std::byte> bytes(const std::string& s) {
    return std::as_bytes(std::span(s.data(), s.size()));
}

TEST(Dispatcher, ScriptsComeFirstInOrderThenTheHandlerAndEveryRequestIsRecorded) {
    Dispatcher d;
    sim_server::add_core_handlers(d);
    d.script_reply("RS", "first");
    d.script_reply("RS", "");
    EXPECT_EQ(d.handle(std::string("RS\0a", 4), "pipe", 0).reply, "first");
    EXPECT_EQ(d.handle("RS", "pipe", 0).reply, "");
    EXPECT_EQ(d.handle("RS", "pipe", 0).reply, std::string("0,ready        ") + '\0');
    EXPECT_EQ(d.handle("??", "pipe", 0).reply, std::string("-1,1", 5));
    EXPECT_EQ(d.handle(std::string("EC,abc\0", 7), "pipe", 0).reply, std::string("abc", 4));
    EXPECT_EQ(d.handle(std::string("SZ,10\0", 6), "pipe", 0).reply, "0,xxxxxxxx");
    EXPECT_EQ(d.handle(std::string("SZ,huge\0", 8), "pipe", 0).reply, std::string("-1,87", 6));
    const auto recorded = d.requests();
    ASSERT_EQ(recorded.size(), 7u);
    EXPECT_EQ(recorded[0].bytes, std::string("RS\0a", 4));
    EXPECT_EQ(recorded[0].transport, "pipe");
    EXPECT_EQ(Dispatcher::code_of("R"), "");
    EXPECT_EQ(Dispatcher::code_of(std::string("R\0", 2)), "");
}

class Front : public testing::Test {
  protected:
    void SetUp() override {
        sim_server::add_core_handlers(dispatcher_);
        ASSERT_EQ(front_.start(), 0);
    }
    static std::optional<PipeConnection> connect(const std::string& pipe = "\\\\.\\pipe\\quorvane") {
        return PipeConnection::connect(pipe, Deadline::after_ms(1000));
    }
    // One transfer on a fresh connection; the reply, or the error number as "error N".
    static std::string transfer(const std::string& request, size_t capacity = 256, int timeout_ms = 2000) {
        auto c = connect();
        if (!c) return "error " + std::to_string(platform::last_error());
        std::vector<std::byte> reply(capacity);
        size_t n = 0;
        if (c->transact(bytes(request), reply, n, Deadline::after_ms(timeout_ms)) != 0)
            return "error " + std::to_string(platform::last_error());
        return std::string(reinterpret_cast<const char*>(reply.data()), n);
    }

    Dispatcher dispatcher_;
    PipeFront front_{dispatcher_};
};

TEST_F(Front, AnswersEachRequestOfAConnectionInOrder) {
    auto c = connect();
    ASSERT_TRUE(c);
    for (int i = 0; i < 3; ++i) {
        const std::string request = "EC," + std::to_string(i) + '\0';
        std::vector<std::byte> reply(64);
        size_t n = 0;
        ASSERT_EQ(c->transact(bytes(request), reply, n, Deadline::after_ms(2000)), 0);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data()), n), std::to_string(i) + '\0');
    }
    EXPECT_EQ(front_.connections_accepted(), 1u);
    EXPECT_EQ(dispatcher_.request_count(), 3u);
}

TEST_F(Front, ScriptedRepliesAndFaults) {
    dispatcher_.script_reply("QS", "");
    EXPECT_EQ(transfer("QS"), "");
    dispatcher_.script_reply("QS", std::string(300, '9'));
    EXPECT_EQ(transfer("QS", 100), "error 234");
    Fault cut{Fault::Kind::close_after, 0, 5};
    dispatcher_.script_fault("QS", cut, std::string("12345"));
    EXPECT_EQ(transfer("QS"), "error 109");
    Fault broken{Fault::Kind::broken_length, 0, 100};
    dispatcher_.script_fault("QS", broken, std::string("12"));
    EXPECT_EQ(transfer("QS"), "error 109");
    dispatcher_.script_fault("QS", Fault{Fault::Kind::broken_length, 0, 1000}, std::string("12"));
    EXPECT_EQ(transfer("QS"), "error 234");  // announced beyond the capacity
    Fault gone{Fault::Kind::close_at_once, 0, 0};
    dispatcher_.script_fault("QS", gone);
    EXPECT_EQ(transfer("QS"), "error 109");
    Fault slow{Fault::Kind::delay, 300, 0};
    dispatcher_.script_fault("QS", slow, std::string("late"));
    EXPECT_EQ(transfer("QS", 256, 50), "error 10060");
    EXPECT_EQ(transfer("RS"), std::string("0,ready        ") + '\0');
}

TEST_F(Front, RefusingToAcceptLeavesClientsWaiting) {
    front_.set_refuse_accept(true);
    EXPECT_EQ(transfer("RS", 256, 100), "error 10060");
    front_.set_refuse_accept(false);
    EXPECT_EQ(transfer("RS").substr(0, 7), "0,ready");
}

TEST_F(Front, StopAndStartIsARestartedServer) {
    auto old = connect();
    ASSERT_TRUE(old);
    front_.stop();
    EXPECT_TRUE(old->peer_gone());
    EXPECT_EQ(transfer("RS"), "error 2");
    ASSERT_EQ(front_.start(), 0);
    EXPECT_EQ(transfer("RS").substr(0, 7), "0,ready");
}

TEST_F(Front, UnderAMachineNameAndStopsAtTheEndOfItsLifetime) {
    sim_server::PipeFrontOptions options;
    options.machine = "plant2";
    options.lifetime_ms = 200;
    PipeFront plant(dispatcher_, options);
    ASSERT_EQ(plant.start(), 0);
    EXPECT_EQ(plant.socket_path(), platform::mailslot_file("plant2\\pipe\\quorvane"));
    EXPECT_TRUE(connect("\\\\PLANT2\\pipe\\quorvane"));
    for (int i = 0; i < 200 && plant.running(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(plant.running());
    EXPECT_FALSE(connect("\\\\plant2\\pipe\\quorvane"));
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);
}

TEST(ProductTree, FolderKeysMapToFoldersUnderOneRoot) {
    qvr_test::TempDir dir;
    sim_server::ProductTree tree(dir.str() + "/server");
    for (const std::string& key : sim_server::ProductTree::standard_keys()) {
        EXPECT_TRUE(std::filesystem::is_directory(tree.folder(key))) << key;
    }
    EXPECT_EQ(tree.folder("QVR_CURRENT_CONFIG"), dir.str() + "/server/CURRENT_CONFIG");
    tree.map("QVR_CONFIG", "cfg/main");
    EXPECT_EQ(tree.folder("QVR_CONFIG"), dir.str() + "/server/cfg/main");
    EXPECT_TRUE(std::filesystem::is_directory(dir.str() + "/server/cfg/main"));
    EXPECT_EQ(tree.folder("QVR_NONE"), "");
    const auto env = tree.environment();
    EXPECT_NE(std::find(env.begin(), env.end(), "QVR_BIN=" + dir.str() + "/server/BIN"), env.end());
}

TEST(Tool, HelpDescribesTheOptions) {
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_server"), {"--help"}, {}, true);
    EXPECT_EQ(child.wait_exit_code(10s), 0);
    const std::string out = child.read_stdout(1s);
    EXPECT_NE(out.find("usage: qvr_server"), std::string::npos);
    EXPECT_NE(out.find("--reply CODE=TEXT"), std::string::npos);
    auto bad = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_server"), {"--bogus"});
    EXPECT_EQ(bad.wait_exit_code(10s), 2);
}

TEST(Tool, AnswersScriptedRepliesPrintsRequestsAndStopsByItself) {
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_server"),
                                               {"--for", "2", "--reply", "QS=-1,5"}, {}, true);
    const std::string listening = child.read_stdout(10s, "listening ");
    ASSERT_NE(listening.find(platform::mailslot_file(".\\pipe\\quorvane")), std::string::npos) << listening;
    std::optional<PipeConnection> c;
    for (int i = 0; i < 100 && !c; ++i) {
        c = PipeConnection::connect("\\\\.\\pipe\\quorvane", Deadline::after_ms(500));
        if (!c) std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(c);
    std::vector<std::byte> reply(64);
    size_t n = 0;
    ASSERT_EQ(c->transact(bytes(std::string("QS,x", 5)), reply, n, Deadline::after_ms(2000)), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data()), n), std::string("-1,5", 5));
    const std::string out = child.read_stdout(5s, "request pipe 0 QS,x\\x00");
    EXPECT_NE(out.find("request pipe 0 QS,x\\x00"), std::string::npos) << out;
    EXPECT_EQ(child.wait_exit_code(10s), 0);
}

TEST(Tool, FreshRunsUnderItsOwnPrefixAndRuntimeFolder) {
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_server"), {"--fresh", "--for", "1"}, {}, true);
    const std::string out = child.read_stdout(10s, "listening ");
    EXPECT_NE(out.find("prefix qvrsrv"), std::string::npos) << out;
    EXPECT_NE(out.find("runtime /tmp/qvr_server."), std::string::npos) << out;
    EXPECT_EQ(child.wait_exit_code(10s), 0);
}

}  // namespace
