// Remote files through the stand-in's product tree: request layouts, directory pages, reads
// and writes over requests and on local descriptors, and whole-file fetches.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/last_error.h"
#include "platform/unique_fd.h"
#include "qvr/requests/remote_file_requests.h"
#include "requests_fixture.h"

namespace {

using requests_test::bytes;
using requests_test::RequestTest;

constexpr uint32_t kRead = 0x80000000u;

std::string random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 engine(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(engine());
    return out;
}

TEST_F(RequestTest, FileRequestLayoutsWithTheirTabs) {
    write_config("dev/config", "0123456789");
    uint8_t buffer[16];
    uint32_t got = 0;
    EXPECT_EQ(link_ReadFile(".", kInvalidFileHandle, "QVR_CURRENT_CONFIG\\dev\\config", 4, 2, 0, kRead, 3, 1,
                            3, 128, buffer, &got),
              1);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "2345");
    EXPECT_EQ(link_WriteFile(".", kInvalidFileHandle, "QVR_CURRENT_CONFIG\\dev\\config", 3, 1, 0, 0xC0000000u,
                             3, 0, 4, 128, "a\0b", &got),
              1);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(link_OpenRemoteFile(".", "QVR_CURRENT_CONFIG\\dev\\config", kRead, 3, 1, 3, 128, nullptr), 10);
    FileTime times[3];
    EXPECT_EQ(link_GetFileTime(".", kInvalidFileHandle, "QVR_CURRENT_CONFIG\\dev\\config", &times[0],
                               &times[1], &times[2]),
              1);
    char names[2][kRemoteNameSlot];
    EXPECT_EQ(link_ListDirectory(".", "QVR_CURRENT_CONFIG\\dev", "*", 2, &names[0][0]), 1);
    EXPECT_STREQ(names[0], "config");
    char text[8];
    EXPECT_EQ(link_RequestMF(".", "QVR_CURRENT_CONFIG\\dev\\config", "new", text, sizeof text), 1);
    EXPECT_STREQ(text, "new");
    EXPECT_EQ(link_RequestEF(".", "a", "b") + link_RequestUF(".", "u") + link_RequestBF(".", "b"), 3);
    EXPECT_EQ(server().sent(),
              (std::vector<std::string>{
                  bytes("RF,QVR_CURRENT_CONFIG\\dev\\config\t4\t2\t0\t-2147483648\t3\t1\t3\t128"),
                  "WF,QVR_CURRENT_CONFIG\\dev\\config\t3\t1\t0\t-1073741824\t3\t0\t4\t128\t" +
                      std::string("a\0b", 3),
                  bytes("SF,QVR_CURRENT_CONFIG\\dev\\config\t-2147483648\t3\t1\t3\t128"),
                  bytes("TF,QVR_CURRENT_CONFIG\\dev\\config"), bytes("DF,QVR_CURRENT_CONFIG\\dev\t*\t0"),
                  bytes("MF,QVR_CURRENT_CONFIG\\dev\\config\tnew"), bytes("EF,a\tb"), bytes("UF,u"),
                  bytes("BF,b")}));
    EXPECT_EQ(qvr_test::read_file(std::filesystem::path(config_folder()) / "dev/config"),
              std::string("0a\0b456789", 10));
}

TEST_F(RequestTest, RequestsThatCannotBeSentAreNotSent) {
    std::vector<uint8_t> buffer(70000);
    uint32_t got = 99;
    EXPECT_EQ(link_ReadFile(".", kInvalidFileHandle, "QVR_CURRENT_CONFIG\\f", 65513, 0, 0, kRead, 3, 1, 3,
                            128, buffer.data(), &got),
              0);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(link_WriteFile(".", kInvalidFileHandle, "QVR_CURRENT_CONFIG\\f", 40000, 0, 0, kRead, 3, 1, 4,
                             128, buffer.data(), &got),
              0);
    EXPECT_EQ(link_RequestUF(".", "a\tb"), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(link_ListDirectory(".", "QVR_CURRENT_CONFIG", "*\n", 0, nullptr), -1);
    EXPECT_EQ(server().dispatcher().request_count(), 0u);
}

TEST_F(RequestTest, ReadRepliesWithBadCountsAreInvalidData) {
    const std::string data(10, 'd');
    for (const std::string& reply : {"1," + data + ",-1" + std::string(1, '\0'), "1," + data + ",11",
                                     "1," + data.substr(0, 6), "1," + data + ",x"}) {
        server().dispatcher().script_reply("RF", reply);
        char buffer[10];
        uint32_t got = 0;
        EXPECT_EQ(link_ReadFile(".", kInvalidFileHandle, "QVR_CURRENT_CONFIG\\f", 10, 0, 0, kRead, 3, 1, 3,
                                128, buffer, &got),
                  0)
            << reply;
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidData);
    }
    server().dispatcher().script_reply("RF", std::string("-1,2", 5));
    char buffer[10];
    uint32_t got = 0;
    EXPECT_EQ(link_ReadFile(".", kInvalidFileHandle, "QVR_CURRENT_CONFIG\\f", 10, 0, 0, kRead, 3, 1, 3, 128,
                            buffer, &got),
              0);
    EXPECT_EQ(platform::last_error(), 2);
}

TEST_F(RequestTest, LocalDescriptorsAreUsedDirectly) {
    const std::string path = (temp_.path() / "local.bin").string();
    qvr_test::write_file(path, "abcdefghij");
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(fd);
    char buffer[4];
    uint32_t got = 0;
    EXPECT_EQ(link_ReadFile(nullptr, fd.get(), nullptr, 4, 3, 0, 0, 0, 0, 0, 0, buffer, &got), 1);
    EXPECT_EQ(std::string(buffer, got), "defg");
    EXPECT_EQ(link_ReadFile(nullptr, fd.get(), nullptr, 4, -1, 0, 0, 0, 0, 0, 0, buffer, &got),
              1);  // no seek
    EXPECT_EQ(std::string(buffer, got), "hij");
    EXPECT_EQ(link_WriteFile(nullptr, fd.get(), nullptr, 2, -2, 2, 0, 0, 0, 0, 0, "XY", &got), 1);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(qvr_test::read_file(path), "abcdefghXY");
    FileTime creation{}, access{}, write{};
    EXPECT_EQ(link_GetFileTime(nullptr, fd.get(), nullptr, &creation, &access, &write), 1);
    const uint64_t ticks = static_cast<uint64_t>(write.high) << 32 | write.low;
    const uint64_t now = (static_cast<uint64_t>(::time(nullptr)) + 11644473600ull) * 10000000ull;
    EXPECT_LT(std::llabs(static_cast<long long>(now - ticks)), 600ll * 10000000ll);
    EXPECT_NE(creation.high, 0u);
    EXPECT_EQ(server().dispatcher().request_count(), 0u);
}

TEST_F(RequestTest, ThreeHundredNamesComeInOnePage) {
    for (int i = 0; i < 300; ++i) write_config("many/file" + std::to_string(1000 + i) + ".dat", "");
    std::vector<char> names(300 * kRemoteNameSlot);
    EXPECT_EQ(link_ListDirectory(".", "QVR_CURRENT_CONFIG\\many", "*.dat", 300, names.data()), 300);
    EXPECT_STREQ(&names[299 * kRemoteNameSlot], "file1299.dat");
    EXPECT_EQ(server().dispatcher().request_count(), 1u);
    EXPECT_EQ(link_ListDirectory(".", "QVR_CURRENT_CONFIG\\many", "FILE10*", 0, nullptr),
              100);  // counted only
}

TEST_F(RequestTest, LongListingsGoOnFromTheIndexAfterTheLastNameCounted) {
    // About 200 KB of names: several full pages.
    const std::string stem(190, 'n');
    for (int i = 0; i < 1050; ++i) write_config("big/" + stem + std::to_string(10000 + i), "");
    std::vector<char> names(1050 * kRemoteNameSlot);
    EXPECT_EQ(link_ListDirectory(".", "QVR_CURRENT_CONFIG\\big", "*", 1050, names.data()), 1050);
    EXPECT_EQ(std::string(&names[1049 * kRemoteNameSlot]), stem + "11049");
    const auto sent = server().sent();
    ASSERT_GE(sent.size(), 4u);
    // The second page starts where the first one's names end.
    const std::string first = sent[1].substr(sent[1].rfind('\t') + 1);
    EXPECT_GT(std::stoi(first), 300);
    EXPECT_LT(std::stoi(first), 345);
}

TEST_F(RequestTest, AListingIntoAVectorHoldsExactlyTheNamesThatArrived) {
    const std::string stem(190, 'n');
    for (int i = 0; i < 1050; ++i) write_config("big/" + stem + std::to_string(10000 + i), "");
    std::vector<std::string> names = {"left over"};
    EXPECT_EQ(qvr::requests::list_directory(".", "QVR_CURRENT_CONFIG\\big", "*", names), 1050);
    ASSERT_EQ(names.size(), 1050u);
    EXPECT_EQ(names.front(), stem + "10000");
    EXPECT_EQ(names.back(), stem + "11049");
    EXPECT_EQ(names.capacity() < 2 * 1050u, true) << "room for what arrived, not for a count";
    // A page that names fewer than before counts only those.
    server().dispatcher().script_reply("DF", std::string("0,one,two", 10));
    EXPECT_EQ(qvr::requests::list_directory(".", "QVR_CURRENT_CONFIG\\big", "*", names), 2);
    EXPECT_EQ(names, (std::vector<std::string>{"one", "two"}));
    // A failed listing leaves nothing.
    fail_once("DF");
    EXPECT_EQ(qvr::requests::list_directory(".", "QVR_CURRENT_CONFIG\\big", "*", names), -1);
    EXPECT_TRUE(names.empty());
}

TEST_F(RequestTest, APageThatStopsJustShortOfFullIsNotTakenForTheLast) {
    // 324 names of 200 characters and one of 154 make a text of exactly 65,280 characters;
    // the next name (255 characters) does not fit after it.
    for (int i = 0; i < 324; ++i) {
        std::string name = "a" + std::to_string(100 + i);
        write_config("edge/" + name + std::string(200 - name.size(), 'x'), "");
    }
    write_config("edge/b" + std::string(153, 'x'), "");
    write_config("edge/c" + std::string(254, 'x'), "");
    write_config("edge/d" + std::string(254, 'x'), "");
    EXPECT_EQ(link_ListDirectory(".", "QVR_CURRENT_CONFIG\\edge", "*", 0, nullptr), 327);
    EXPECT_EQ(server().dispatcher().request_count(), 2u);
}

TEST_F(RequestTest, BrokenPagesEndTheListing) {
    server().dispatcher().script_reply("DF", bytes(("0,ok," + std::string(256, 'x')).c_str()));
    EXPECT_EQ(link_ListDirectory(".", "QVR_CURRENT_CONFIG", "*", 0, nullptr), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidData);
    // A full page without a name.
    server().dispatcher().script_reply("DF", bytes(("0" + std::string(65400, ' ') + ",").c_str()));
    EXPECT_EQ(link_ListDirectory(".", "QVR_CURRENT_CONFIG", "*", 0, nullptr), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidData);
    EXPECT_EQ(server().dispatcher().request_count(), 2u);
}

TEST_F(RequestTest, AFetchCopiesAMebibyteByteForByte) {
    const std::string content = random_bytes(1 << 20, 7);
    write_config("dev/config", content);
    const std::string target = (temp_.path() / "copy").string();
    EXPECT_EQ(cfg_FetchRemoteFile(".", "dev", "config", target.c_str()), 0);
    EXPECT_EQ(qvr_test::read_file(target), content);
    const auto sent = server().sent();
    EXPECT_EQ(sent.size(), 1u + (content.size() + 32743) / 32744);
    EXPECT_EQ(sent[0], bytes("SF,QVR_CURRENT_CONFIG\\dev\\config\t-2147483648\t3\t1\t3\t128"));
    EXPECT_EQ(sent[2],
              bytes("RF,QVR_CURRENT_CONFIG\\dev\\config\t32744\t32744\t0\t-2147483648\t3\t1\t3\t128"));
}

TEST_F(RequestTest, AFetchFailingHalfWayLeavesTheOldTarget) {
    write_config("dev/config", random_bytes(200000, 3));
    const std::string target = (temp_.path() / "kept").string();
    qvr_test::write_file(target, "the old file");
    // Three chunks arrive, the fourth fails.
    for (int i = 0; i < 3; ++i) server().dispatcher().script_fault("RF", sim_server::Fault{});
    server().dispatcher().script_reply("RF", std::string("-1,5", 5));
    EXPECT_EQ(cfg_FetchRemoteFile(".", "dev", "config", target.c_str()), -1);
    EXPECT_EQ(errno, 5);
    EXPECT_EQ(server().dispatcher().request_count(), 5u);
    EXPECT_EQ(qvr_test::read_file(target), "the old file");
    for (const auto& entry : std::filesystem::directory_iterator(temp_.path()))
        EXPECT_NE(entry.path().filename().string().rfind(".kept.", 0), 0u) << entry.path();
    // A missing server file fails before anything is read.
    EXPECT_EQ(cfg_FetchRemoteFile(".", nullptr, "missing", target.c_str()), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(qvr_test::read_file(target), "the old file");
}

}  // namespace
