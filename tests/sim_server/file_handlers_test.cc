// The stand-in's file and configuration requests keep to its product tree: symbolic links
// out of it, "..", absolute paths and paths of other machines are refused with 5 by every
// request that takes a path, while links that stay inside work; "WF" reads exactly its byte
// count of data, with or without the NUL older clients send after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "server/dispatcher.h"
#include "server/product_tree.h"
#include "server/request_handlers.h"
#include "server/request_tables.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr char kRefused[] = "-1,5";

std::string text(const char* t) {
    return std::string(t) + '\0';
}

std::string read_request(const std::string& path) {
    return text(("RF," + path + "\t16\t0\t0\t-2147483648\t3\t0\t3\t128").c_str());
}

std::string open_request(const std::string& path, int disposition) {
    return text(("SF," + path + "\t-2147483648\t3\t0\t" + std::to_string(disposition) + "\t128").c_str());
}

std::string write_request(const std::string& path, const std::string& data, size_t count) {
    return "WF," + path + "\t" + std::to_string(count) + "\t0\t0\t-1073741824\t3\t0\t4\t128\t" + data;
}

std::string write_request(const std::string& path, const std::string& data) {
    return write_request(path, data, data.size());
}

// The text of a reply up to its NUL.
std::string answer_text(const std::string& reply) {
    return reply.substr(0, reply.find('\0'));
}

class StandInTree : public testing::Test {
  protected:
    void SetUp() override {
        sim_server::add_core_handlers(dispatcher_);
        sim_server::add_request_handlers(dispatcher_, tables_, tree_);
        qvr_test::write_file(outside_ / "secret", "outside");
        qvr_test::write_file(outside_ / "config", "Xoutside");
        const fs::path config = tree_.folder("QVR_CURRENT_CONFIG");
        qvr_test::write_file(config / "dev" / "config", "Xinside!");
        fs::create_directory_symlink("/", config / "root");
        fs::create_directory_symlink(outside_, config / "sibling");
        fs::create_directory_symlink("../../outside", config / "sibling_rel");
        fs::create_directory_symlink(config / "dev", config / "inner");
        fs::create_directory_symlink("dev", config / "rel");
        fs::create_symlink(outside_ / "new_file", config / "dangling");
        fs::create_directory_symlink(outside_, config / "evil");
        fs::create_directory_symlink("..", fs::path(tree_.folder("QVR_LOGGED_DATA")) / "up");
    }
    std::string ask(const std::string& request) { return dispatcher_.handle(request, "pipe", 65536).reply; }
    // What lies outside the tree, to check that nothing there changed.
    std::vector<std::string> outside_state() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(outside_))
            out.push_back(e.path().filename().string() + "=" + qvr_test::read_file(e.path()));
        std::sort(out.begin(), out.end());
        return out;
    }

    qvr_test::TempDir temp_;
    fs::path outside_ = temp_ / "outside";
    sim_server::ProductTree tree_{(temp_ / "server").string()};
    sim_server::RequestTables tables_;
    sim_server::Dispatcher dispatcher_;
};

TEST_F(StandInTree, PathsOutOfTheTreeAreRefusedByEveryFileRequest) {
    const auto before = outside_state();
    for (const char* path : {"QVR_CURRENT_CONFIG\\root\\etc\\passwd", "QVR_CURRENT_CONFIG\\sibling\\secret",
                             "QVR_CURRENT_CONFIG\\sibling_rel\\secret", "QVR_CURRENT_CONFIG\\..\\..\\outside\\secret",
                             "QVR_CURRENT_CONFIG\\dev\\..\\..\\..\\outside\\secret",
                             "QVR_CURRENT_CONFIG/../../outside/secret", "QVR_CURRENT_CONFIG\\dangling",
                             "\\QVR_CURRENT_CONFIG\\dev\\config", "/etc/passwd", "\\\\plant2\\share\\secret"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(answer_text(ask(read_request(path))), kRefused);
        EXPECT_EQ(answer_text(ask(open_request(path, 3))), kRefused);
        EXPECT_EQ(answer_text(ask(open_request(path, 4))), kRefused);
        EXPECT_EQ(answer_text(ask(text(("TF," + std::string(path)).c_str()))), kRefused);
        EXPECT_EQ(answer_text(ask(write_request(path, "written"))), kRefused);
    }
    for (const char* folder : {"QVR_CURRENT_CONFIG\\root", "QVR_CURRENT_CONFIG\\sibling",
                               "QVR_CURRENT_CONFIG\\..", "\\QVR_CURRENT_CONFIG"})
        EXPECT_EQ(answer_text(ask(text(("DF," + std::string(folder) + "\t*\t0").c_str()))), kRefused) << folder;
    EXPECT_EQ(outside_state(), before);
    EXPECT_EQ(before, (std::vector<std::string>{"config=Xoutside", "secret=outside"}));
}

TEST_F(StandInTree, LinksThatStayInsideTheTreeWork) {
    for (const char* path : {"QVR_CURRENT_CONFIG\\dev\\config", "QVR_CURRENT_CONFIG\\inner\\config",
                             "QVR_CURRENT_CONFIG\\rel\\config", "qvr_current_config/dev/config",
                             "QVR_LOGGED_DATA\\up\\CURRENT_CONFIG\\dev\\config"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ask(read_request(path)), "1,Xinside!" + std::string(8, '\0') + ",8" + '\0');
        EXPECT_EQ(answer_text(ask(open_request(path, 3))), "8");
        EXPECT_EQ(answer_text(ask(text(("TF," + std::string(path)).c_str()))).substr(0, 2), "1,");
    }
    EXPECT_EQ(answer_text(ask(text("DF,QVR_CURRENT_CONFIG\\rel\t*\t0"))), "0,config");
    EXPECT_EQ(answer_text(ask(write_request("QVR_CURRENT_CONFIG\\inner\\fresh", "new"))), "1");
    EXPECT_EQ(qvr_test::read_file(fs::path(tree_.folder("QVR_CURRENT_CONFIG")) / "dev" / "fresh"), "new");
}

TEST_F(StandInTree, DeviceFoldersOutOfTheTreeAreRefusedByTheConfigurationRequests) {
    const auto before = outside_state();
    EXPECT_EQ(answer_text(ask(text("GF,10,evil,1,0, ,0,0,0,0"))), kRefused);
    EXPECT_EQ(answer_text(ask(text("FF,1,x,evil,1,0, , , , , ") + "Z")), kRefused);
    EXPECT_EQ(outside_state(), before);
    EXPECT_EQ(ask(text("GF,10,dev,1,0, ,0,0,0,0")), "0," + std::string(7, '\0') + "i");
    EXPECT_EQ(answer_text(ask(text("FF,1,x,dev,1,0, , , , , ") + "Z")), "0");
    EXPECT_EQ(qvr_test::read_file(fs::path(tree_.folder("QVR_CURRENT_CONFIG")) / "dev" / "config"), "XZnside!");
}

TEST_F(StandInTree, WriteRequestsCarryExactlyTheirByteCount) {
    const fs::path file = fs::path(tree_.folder("QVR_CURRENT_CONFIG")) / "dev" / "w";
    EXPECT_EQ(answer_text(ask(write_request("QVR_CURRENT_CONFIG\\dev\\w", std::string("a\0c", 3)))), "1");
    EXPECT_EQ(qvr_test::read_file(file), std::string("a\0c", 3));
    // As older clients send it: a NUL after the data.
    EXPECT_EQ(answer_text(ask(write_request("QVR_CURRENT_CONFIG\\dev\\w", std::string("xyz\0", 4), 3))), "1");
    EXPECT_EQ(qvr_test::read_file(file), "xyz");
    for (const std::string& data : {std::string("xyzq"), std::string("xyz\0\0", 5), std::string("xy")})
        EXPECT_EQ(answer_text(ask(write_request("QVR_CURRENT_CONFIG\\dev\\w", data, 3))), "-1,87") << data.size();
    EXPECT_EQ(qvr_test::read_file(file), "xyz");
}

}  // namespace
