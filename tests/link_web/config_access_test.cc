// Configuration access through servers reached by the TLS socket and the web service: the
// bulk requests answered by the stand-in, and the same requests refused ("-1,5"), where the
// RF/WF fallbacks must leave the same files and read the same records.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qvr/config_remote/config_remote.h"
#include "qvr/xml/xml.h"
#include "server/product_tree.h"
#include "server/request_handlers.h"
#include "server/tls/tls_front.h"
#include "server/web/web_front.h"
#include "support/temp_dir.h"
#include "web_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kRecord = 216;
constexpr std::size_t kHeader = 8;

enum class Transport { tls, http, https };

std::string pattern(std::size_t size, int seed) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 7 + i / 251 + seed * 31 + 1) & 0xFF);
    return out;
}

const qvr::ChannelRecord* channels(const std::string& bytes) {
    return reinterpret_cast<const qvr::ChannelRecord*>(bytes.data());
}

class ConfigOverSockets : public web_test::LinkOverSockets, public testing::WithParamInterface<Transport> {
  protected:
    void SetUp() override {
        LinkOverSockets::SetUp();
        tree_ = std::make_unique<sim_server::ProductTree>((temp_.path() / "product").string());
        sim_server::add_request_handlers(dispatcher_, tables_, *tree_);
        if (GetParam() == Transport::tls) {
            tls_ = web_test::tls_front(dispatcher_);
            ASSERT_EQ(tls_->start(), 0);
            server_ = tls_->url();
        } else {
            web_ = web_test::web_front(dispatcher_, GetParam() == Transport::https);
            ASSERT_EQ(web_->start(), 0);
            server_ = web_->url();
        }
    }
    void TearDown() override {
        LinkOverSockets::TearDown();
        tls_.reset();
        web_.reset();
    }

    fs::path config() const { return tree_->folder("QVR_CURRENT_CONFIG"); }
    void refuse(const char* code) { dispatcher_.script_reply(code, std::string("-1,5", 5)); }
    std::vector<std::string> codes() const {
        std::vector<std::string> out;
        for (const auto& r : dispatcher_.requests()) out.push_back(r.bytes.substr(0, 2));
        return out;
    }
    void make_device() {
        fs::remove_all(config());
        qvr_test::write_file(config() / "DEV" / "ai", std::string(kHeader, '\0') + pattern(6 * kRecord, 1));
        qvr_test::write_file(config() / "DEV" / "config", "\1" + pattern(704, 2));
        qvr_test::write_file(config() / "DEV" / "saveconfig", std::string("\1\0\x10\x0e\0\0", 6));
        qvr_test::write_file(config() / "DEV" / "dev.extra", pattern(64, 3));
        qvr_test::write_file(config() / "LOGGERS" / "stand_1", pattern(32220, 4));
        qvr_test::write_file(config() / "config", "\1");
    }
    // Every file of the configuration, the channel table's stamp of now left out.
    std::map<std::string, std::string> files() const {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(config())) {
            if (!e.is_regular_file()) continue;
            std::string bytes = qvr_test::read_file(e.path());
            if (e.path().filename() == "ai") bytes.replace(0, kHeader, kHeader, '\0');
            out[fs::relative(e.path(), config()).string()] = bytes;
        }
        return out;
    }

    qvr_test::TempDir temp_;
    sim_server::RequestTables tables_;
    std::unique_ptr<sim_server::ProductTree> tree_;
    std::string server_;
    std::unique_ptr<sim_server::TlsFront> tls_;
    std::unique_ptr<sim_server::WebFront> web_;
};

TEST_P(ConfigOverSockets, ReadsByRequestAndByFallbackGiveTheSameRecords) {
    make_device();
    const char* server = server_.c_str();
    std::string results[2];
    for (int fallback = 0; fallback < 2; ++fallback) {
        SCOPED_TRACE(fallback);
        dispatcher_.clear_requests();
        if (fallback != 0)
            for (const char* code : {"IF", "GF"}) refuse(code);
        std::vector<qvr::ChannelRecord> records(4);
        std::string extra(64, '\0'), record(704, '\0'), logger(32220, '\0');
        uint8_t auto_enable = 0, outputs = 0, by_tag = 9;
        int32_t rate = 0;
        ASSERT_EQ(
            cfg_ReadChannelsAndExtra(server, "DEV", 0, records.data(), 1, 4, extra.data(), 64, "dev.extra"),
            0)
            << errno;
        ASSERT_EQ(cfg_ReadDeviceSettings(server, "DEV", record.data(), 704, nullptr, 0, nullptr, &auto_enable,
                                         &outputs, &by_tag, &rate),
                  0)
            << errno;
        ASSERT_EQ(cfg_ReadLoggerConfig(server, "stand", 1, logger.data(), 32220), 0) << errno;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(records.data()), 4 * kRecord),
                  pattern(6 * kRecord, 1).substr(kRecord, 4 * kRecord));
        EXPECT_EQ(record, pattern(704, 2));
        EXPECT_EQ(logger, pattern(32220, 4));
        EXPECT_EQ(rate, 3600);
        results[fallback] = std::string(reinterpret_cast<const char*>(records.data()), 4 * kRecord) + extra +
                            record + logger + char(auto_enable) + char(outputs) + char(by_tag) +
                            std::to_string(rate);
        const auto sent = codes();
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(sent[0], "IF");
        EXPECT_EQ(fallback == 0 ? sent[1] : sent.back(), fallback == 0 ? "GF" : "RF");
    }
    EXPECT_EQ(results[0], results[1]);
}

TEST_P(ConfigOverSockets, WritesByRequestAndByFallbackLeaveTheSameFiles) {
    const char* server = server_.c_str();
    const std::string records = pattern(3 * kRecord, 6), extra = pattern(64, 7), record = pattern(704, 8),
                      logger = pattern(32220, 9);
    const uint8_t auto_enable = 0, outputs = 1, by_tag = 1;
    const int32_t rate = 45;
    std::map<std::string, std::string> trees[2];
    for (int fallback = 0; fallback < 2; ++fallback) {
        SCOPED_TRACE(fallback);
        make_device();
        dispatcher_.clear_requests();
        if (fallback != 0)
            for (const char* code : {"HF", "FF", "CF"}) refuse(code);
        ASSERT_EQ(cfg_WriteChannelsAndExtra(server, "ann", "DEV", 0, channels(records), 2, 3, extra.data(),
                                            64, "dev.extra", 1),
                  0)
            << errno;
        ASSERT_EQ(cfg_WriteDeviceSettings(server, "ann", "DEV", record.data(), 704, extra.data(), 64,
                                          "dev.extra", &auto_enable, &outputs, &by_tag, &rate),
                  0)
            << errno;
        ASSERT_EQ(cfg_WriteLoggerConfig(server, "stand", 1, logger.data(), 32220, "ann"), 0) << errno;
        trees[fallback] = files();
        const auto sent = codes();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "WF") > 2, fallback != 0);
    }
    EXPECT_EQ(trees[0], trees[1]);
    EXPECT_EQ(trees[0].at("DEV/ai").substr(kHeader + 2 * kRecord, 3 * kRecord), records);
    EXPECT_EQ(trees[0].at("DEV/config"), std::string(1, '\0') + record);
    EXPECT_EQ(trees[0].at("LOGGERS/stand_1"), logger);
}

TEST_P(ConfigOverSockets, Error1465StandsWithoutFallback) {
    make_device();
    dispatcher_.script_reply("GF", std::string("-1,1465,SaveRate Required") + '\0');
    std::string record(704, '\0');
    EXPECT_EQ(cfg_ReadDeviceConfig(server_.c_str(), "DEV", record.data(), 704), -1);
    EXPECT_EQ(errno, 1465);
    EXPECT_STREQ(xml_GetMessage(), "SaveRate Required");
    EXPECT_EQ(codes(), std::vector<std::string>{"GF"});
}

INSTANTIATE_TEST_SUITE_P(Transports, ConfigOverSockets,
                         testing::Values(Transport::tls, Transport::http, Transport::https),
                         [](const testing::TestParamInfo<Transport>& p) {
                             return p.param == Transport::tls    ? std::string("Tls")
                                    : p.param == Transport::http ? std::string("Http")
                                                                 : std::string("Https");
                         });

}  // namespace
