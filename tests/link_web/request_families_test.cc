// Each family of server requests (processors and devices, loggers, channel values, server
// state, remote files) over every transport of the server link: the pipe, the TLS socket, and
// the web service over http and https, each a front end of the stand-in with the request
// handlers and a product tree behind it. Every request must arrive through that transport.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "qvr/requests/logger_requests.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/requests/remote_file_requests.h"
#include "qvr/requests/value_requests.h"
#include "qvr/time/timestamp.h"
#include "server/pipe_front.h"
#include "server/product_tree.h"
#include "server/request_handlers.h"
#include "server/tls/tls_front.h"
#include "server/web/web_front.h"
#include "support/temp_dir.h"
#include "web_fixture.h"

namespace {

enum class Transport { pipe, tls, http, https };

const char* name_of(Transport t) {
    switch (t) {
        case Transport::pipe: return "Pipe";
        case Transport::tls: return "Tls";
        case Transport::http: return "Http";
        case Transport::https: return "Https";
    }
    return "";
}

// The dispatcher's name of the transport a request came through.
std::string recorded_as(Transport t) {
    return t == Transport::pipe ? "pipe" : t == Transport::tls ? "tls" : "web";
}

class RequestFamilies : public web_test::LinkOverSockets, public testing::WithParamInterface<Transport> {
  protected:
    void SetUp() override {
        LinkOverSockets::SetUp();
        tree_ = std::make_unique<sim_server::ProductTree>((temp_.path() / "product").string());
        sim_server::add_request_handlers(dispatcher_, tables_, *tree_);
        switch (GetParam()) {
            case Transport::pipe: {
                // Another machine's pipe, so that nothing is answered locally.
                sim_server::PipeFrontOptions o;
                o.machine = "plant7";
                o.lifetime_ms = 120000;
                pipe_ = std::make_unique<sim_server::PipeFront>(dispatcher_, o);
                ASSERT_EQ(pipe_->start(), 0);
                server_ = "plant7";
                break;
            }
            case Transport::tls: {
                tls_ = web_test::tls_front(dispatcher_);
                ASSERT_EQ(tls_->start(), 0);
                server_ = tls_->url();
                break;
            }
            case Transport::http:
            case Transport::https: {
                web_ = web_test::web_front(dispatcher_, GetParam() == Transport::https);
                ASSERT_EQ(web_->start(), 0);
                server_ = web_->url();
                break;
            }
        }
    }
    void TearDown() override {
        LinkOverSockets::TearDown();
        pipe_.reset();
        tls_.reset();
        web_.reset();
    }

    // The codes the stand-in received, each checked to have come through the transport under test.
    std::vector<std::string> codes() const {
        std::vector<std::string> out;
        for (const auto& r : dispatcher_.requests()) {
            EXPECT_EQ(r.transport, recorded_as(GetParam())) << r.bytes;
            out.push_back(r.bytes.substr(0, 2));
        }
        return out;
    }
    void write_config(const std::string& relative, const std::string& bytes) {
        qvr_test::write_file(std::filesystem::path(tree_->folder("QVR_CURRENT_CONFIG")) / relative, bytes);
    }

    qvr_test::TempDir temp_;
    sim_server::RequestTables tables_;
    std::unique_ptr<sim_server::ProductTree> tree_;
    std::string server_;
    std::unique_ptr<sim_server::PipeFront> pipe_;
    std::unique_ptr<sim_server::TlsFront> tls_;
    std::unique_ptr<sim_server::WebFront> web_;
};

TEST_P(RequestFamilies, ProcessorAndDeviceLists) {
    {
        auto t = tables_.lock();
        t->processors.push_back({"CALC1", "Calculator", "AA:10"});
        t->processors.push_back({"USERD", "User digital", "UD:62", 0, 'D'});
        t->devices.push_back({"DEV", 3, "Device Three", "AI:8 - DO:4"});
    }
    const char* server = server_.c_str();
    EXPECT_EQ(CountProcessors(server), 2);
    ProcessorRecord p[4];
    ASSERT_EQ(GetProcessorInfo(server, "*,4", p, 4), 2) << platform::last_error();
    EXPECT_STREQ(p[0].name, "CALC1");
    EXPECT_STREQ(p[0].print_name, "Calculator");
    EXPECT_EQ(+p[0].channel_count, 10);
    EXPECT_STREQ(p[1].name, "USERD");
    EXPECT_EQ(p[1].type, 3);
    EXPECT_EQ(p[1].run, 0);
    DeviceInfoRecord d[2];
    ASSERT_EQ(GetDeviceInfo(server, "*,2", d, 2), 1) << platform::last_error();
    EXPECT_STREQ(d[0].name, "DEV");
    EXPECT_EQ(d[0].number, 3);
    EXPECT_STREQ(d[0].key, "DEV_3");
    EXPECT_EQ(+d[0].ranges[0].count, 8);
    EXPECT_EQ(+d[0].ranges[2].count, 4);
    EXPECT_EQ(codes(), (std::vector<std::string>{"QP", "IP", "IE"}));
}

TEST_P(RequestFamilies, LoggerCountInfoAndEnabling) {
    {
        auto t = tables_.lock();
        t->loggers.push_back({"stand", 1, "Boiler house", "L1"});
        t->loggers.push_back({"repub", 2, "Republisher", "L2"});
    }
    const char* server = server_.c_str();
    EXPECT_EQ(CountLoggers(server), 2);
    LoggerInfoRecord r[2];
    ASSERT_EQ(GetLoggerInfo(server, "*,2", r, 2), 2) << platform::last_error();
    EXPECT_STREQ(r[1].kind, "repub");
    EXPECT_EQ(r[1].number, 2);
    EXPECT_STREQ(r[1].description, "Republisher");
    EXPECT_EQ(DisableLogger(server, "L2"), 1);
    EXPECT_FALSE(tables_.lock()->loggers[1].enabled);
    EXPECT_EQ(codes(), (std::vector<std::string>{"QL", "IL", "DL"}));
}

TEST_P(RequestFamilies, ChannelValuesSetAndGot) {
    const char* server = server_.c_str();
    EXPECT_EQ(SetChannelValue(server, "AI1", 12.5), 1) << platform::last_error();
    EXPECT_EQ(tables_.lock()->channel_values["AI1"], "12.5");
    tables_.lock()->channel_values["AI2"] = "7";
    std::vector<char> reply(kValueReplySize);
    EXPECT_EQ(RequestCurrentValue(server, "AI1,AI2", reply.data()), 2) << platform::last_error();
    EXPECT_STREQ(reply.data(), "2,AI1=12.5;AI2=7;");
    EXPECT_EQ(codes(), (std::vector<std::string>{"FV", "CV"}));
}

TEST_P(RequestFamilies, ServerStateAndTime) {
    {
        auto t = tables_.lock();
        t->state_number = 3;
        t->state_text1 = "running";
        t->state_text2 = "since boot";
        t->seconds = 123456;
        t->milliseconds = 789;
    }
    const char* server = server_.c_str();
    int number = 0;
    char text1[16] = "", text2[16] = "";
    // The result is the reply's number, as for every request.
    EXPECT_EQ(RequestBS(server, &number, text1, sizeof text1, text2, sizeof text2), 3) << platform::last_error();
    EXPECT_EQ(number, 3);
    EXPECT_STREQ(text1, "running");
    EXPECT_STREQ(text2, "since boot");
    TimeStamp stamp{};
    ASSERT_EQ(GetServerTime(server, &stamp), 0) << platform::last_error();
    EXPECT_EQ(stamp.seconds, 123456);
    EXPECT_EQ(stamp.milliseconds, 789);
    EXPECT_EQ(RequestDS(server), 1);
    EXPECT_FALSE(tables_.lock()->enabled);
    EXPECT_EQ(codes(), (std::vector<std::string>{"BS", "TS", "DS"}));
}

TEST_P(RequestFamilies, RemoteFilesListedAndFetchedByteForByte) {
    for (int i = 0; i < 40; ++i) write_config("many/file" + std::to_string(1000 + i) + ".dat", "");
    write_config("many/other.txt", "");
    std::vector<char> names(40 * kRemoteNameSlot);
    EXPECT_EQ(link_ListDirectory(server_.c_str(), "QVR_CURRENT_CONFIG\\many", "*.dat", 40, names.data()), 40)
        << platform::last_error();
    EXPECT_STREQ(&names[0], "file1000.dat");
    EXPECT_STREQ(&names[39 * kRemoteNameSlot], "file1039.dat");

    std::mt19937 engine(24);
    std::string content(300 * 1024 + 17, '\0');
    for (char& c : content) c = static_cast<char>(engine());
    write_config("dev/config", content);
    const std::string target = (temp_.path() / "copy").string();
    ASSERT_EQ(cfg_FetchRemoteFile(server_.c_str(), "dev", "config", target.c_str()), 0) << errno;
    EXPECT_TRUE(qvr_test::read_file(target) == content) << "the fetched copy differs";
    const auto sent = codes();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[0], "DF");
    EXPECT_EQ(sent[1], "SF");
    EXPECT_EQ(sent.back(), "RF");
}

INSTANTIATE_TEST_SUITE_P(Transports, RequestFamilies,
                         testing::Values(Transport::pipe, Transport::tls, Transport::http, Transport::https),
                         [](const testing::TestParamInfo<Transport>& p) { return name_of(p.param); });

}  // namespace
