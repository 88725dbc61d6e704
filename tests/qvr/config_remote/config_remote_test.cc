// Configuration access through the server: this machine's folder and another machine's pipe
// server through the file layer (its folder reached by the RemoteMachines mapping, nothing
// sent), and the requests with their RF/WF fallbacks over the pipe, recorded at the stand-in.
#include "qvr/config_remote/config_remote.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "config_remote_fixture.h"
#include "platform/host_identity.h"
#include "qvr/time/timestamp.h"
#include "qvr/xml/xml.h"

namespace {

using namespace config_remote_test;

// The numeric fields of a recorded "RF" or "WF": path, count, offset, method, access, share,
// security, disposition, attributes.
std::vector<std::string> file_fields(const std::string& request) {
    std::vector<std::string> out;
    std::string rest = request.substr(3);
    for (int i = 0; i < 9; ++i) {
        const std::size_t tab = rest.find('\t');
        out.push_back(rest.substr(0, tab == std::string::npos ? rest.find('\0') : tab));
        if (tab == std::string::npos) break;
        rest = rest.substr(tab + 1);
    }
    return out;
}

std::vector<std::vector<std::string>> file_requests(const std::vector<std::string>& sent, const char* code) {
    std::vector<std::vector<std::string>> out;
    for (const auto& r : sent)
        if (r.starts_with(code)) out.push_back(file_fields(r));
    return out;
}

std::string as_text(const void* data, std::size_t size) {
    return std::string(static_cast<const char*>(data), size);
}

std::string file_of(const fs::path& path) {
    return fs::exists(path) ? qvr_test::read_file(path) : std::string("(missing)");
}

// ---- The file layer: this machine and another machine's pipe server ----

class FolderServers : public ConfigAccessTest, public testing::WithParamInterface<const char*> {
  protected:
    bool remote() const { return std::string(GetParam()) == "plant2"; }
    fs::path config() const { return remote() ? remote_config() : local_config(); }
};

TEST_P(FolderServers, ReadsEveryPartFromTheFilesWithoutARequest) {
    make_device(config(), "DEV", 5, 704, 40);
    qvr_test::write_file(config() / "LOGGERS" / "custom_3", pattern(300, 9));
    const char* server = GetParam();

    std::vector<qvr::ChannelRecord> records(3);
    std::string extra(40, '\0');
    ASSERT_EQ(cfg_ReadChannelsAndExtra(server, "DEV", 0, records.data(), 1, 3, extra.data(), 40, "dev.extra"),
              0)
        << errno;
    EXPECT_EQ(as_text(records.data(), 3 * kRecord), pattern(5 * kRecord, 1).substr(kRecord, 3 * kRecord));
    EXPECT_EQ(extra, pattern(40, 3));
    ASSERT_EQ(cfg_ReadChannels(server, "DEV", 0, records.data(), 0, 1), 0);
    EXPECT_EQ(as_text(records.data(), kRecord), pattern(kRecord, 1));

    std::string record(704, '\0');
    uint8_t auto_enable = 0, outputs = 0, by_tag = 9;
    int32_t rate = 0;
    ASSERT_EQ(cfg_ReadDeviceSettings(server, "DEV", record.data(), 704, extra.data(), 40, "dev.extra",
                                     &auto_enable, &outputs, &by_tag, &rate),
              0)
        << errno;
    EXPECT_EQ(record, pattern(704, 2));
    EXPECT_EQ(+auto_enable, 1);
    EXPECT_EQ(+outputs, 1);
    EXPECT_EQ(+by_tag, 0);
    EXPECT_EQ(rate, 3600);
    auto_enable = 7;
    ASSERT_EQ(cfg_ReadAutoEnable(server, "DEV", &auto_enable), 0);
    EXPECT_EQ(+auto_enable, 1);
    rate = 0;
    ASSERT_EQ(cfg_ReadAutosaveSettings(server, "DEV", nullptr, nullptr, &rate), 0);
    EXPECT_EQ(rate, 3600);
    ASSERT_EQ(cfg_ReadDeviceConfig(server, "DEV", record.data(), 704), 0);
    EXPECT_EQ(record, pattern(704, 2));

    std::string logger(300, '\0');
    ASSERT_EQ(cfg_ReadLoggerConfig(server, "custom", 3, logger.data(), 300), 0) << errno;
    EXPECT_EQ(logger, pattern(300, 9));
    EXPECT_EQ(dispatcher().request_count(), 0u);
}

TEST_P(FolderServers, WritesEveryPartIntoTheFilesWithoutARequest) {
    make_device(config(), "DEV", 4, 704, 40);
    // The audit switch of the configuration folder on: the trail follows that folder.
    qvr_test::write_file(config() / "config", std::string("\0\1", 2));
    const char* server = GetParam();
    const std::string records = pattern(2 * kRecord, 5);
    const std::string extra = pattern(40, 6);
    ASSERT_EQ(cfg_WriteChannelsAndExtra(server, "ann", "DEV", 0,
                                        reinterpret_cast<const qvr::ChannelRecord*>(records.data()), 1, 2,
                                        extra.data(), 40, "dev.extra", 1),
              0)
        << errno;
    const std::string table = file_of(config() / "DEV" / "ai");
    ASSERT_EQ(table.size(), kHeader + 4 * kRecord);
    EXPECT_EQ(table.substr(kHeader + kRecord, 2 * kRecord), records);
    EXPECT_EQ(table.substr(kHeader, kRecord), pattern(4 * kRecord, 1).substr(0, kRecord));  // kept
    EXPECT_EQ(file_of(config() / "DEV" / "dev.extra"), extra);

    const std::string record = pattern(704, 7);
    const uint8_t auto_enable = 0, outputs = 0, by_tag = 1;
    const int32_t rate = 60;
    ASSERT_EQ(cfg_WriteDeviceSettings(server, "ann", "DEV", record.data(), 704, nullptr, 0, nullptr,
                                      &auto_enable, &outputs, &by_tag, &rate),
              0)
        << errno;
    EXPECT_EQ(file_of(config() / "DEV" / "config"), std::string(1, '\0') + record);
    EXPECT_EQ(file_of(config() / "DEV" / "saveconfig"), std::string("\0\1\x3c\0\0\0", 6));
    ASSERT_EQ(cfg_WriteAutoEnable(server, "ann", "DEV", 1), 0);
    EXPECT_EQ(file_of(config() / "DEV" / "config")[0], '\1');
    ASSERT_EQ(cfg_WriteAutosaveSettings(server, "ann", "DEV", 1, 0, 3600), 0);
    EXPECT_EQ(file_of(config() / "DEV" / "saveconfig"), std::string("\1\0\x10\x0e\0\0", 6));

    fs::create_directories(config() / "LOGGERS");
    const std::string logger = pattern(300, 8);
    ASSERT_EQ(cfg_WriteLoggerConfig(server, "custom", 3, logger.data(), 300, "ann"), 0) << errno;
    EXPECT_EQ(file_of(config() / "LOGGERS" / "custom_3"), logger);
    const std::string trail = file_of(config() / "recent_history.txt");
    EXPECT_NE(trail.find("\tann\tDEV.2."), std::string::npos) << trail;
    EXPECT_NE(trail.find("\tann\tDEV.SaveRate"), std::string::npos) << trail;
    EXPECT_EQ(dispatcher().request_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Servers, FolderServers, testing::Values(".", "plant2"),
                         [](const testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param) == "." ? std::string("ThisMachine")
                                                                : std::string("PipeOfPlant2");
                         });

TEST_F(ConfigAccessTest, AMachineWithoutAMappingIsNotReached) {
    std::string record(10, '\0');
    EXPECT_EQ(cfg_ReadDeviceConfig("plant3", "DEV", record.data(), 10), -1);
    EXPECT_EQ(errno, 53);
}

// ---- Requests over the pipe, and their fallbacks ----

class Requests : public ConfigAccessTest {
  protected:
    void SetUp() override {
        ConfigAccessTest::SetUp();
        by_requests();
    }
};

TEST_F(Requests, BulkReadsAreOneRequestEachWithExactReplies) {
    make_device(remote_config(), "DEV", 5, 704, 40);
    std::vector<qvr::ChannelRecord> records(3);
    std::string extra(40, '\0');
    ASSERT_EQ(
        cfg_ReadChannelsAndExtra("plant2", "DEV", 0, records.data(), 2, 3, extra.data(), 40, "dev.extra"), 0)
        << errno;
    EXPECT_EQ(as_text(records.data(), 3 * kRecord), pattern(5 * kRecord, 1).substr(2 * kRecord));
    EXPECT_EQ(extra, pattern(40, 3));

    std::string record(704, '\0');
    uint8_t auto_enable = 0, outputs = 0, by_tag = 5;
    int32_t rate = 0;
    ASSERT_EQ(cfg_ReadDeviceSettings("plant2", "DEV", record.data(), 704, nullptr, 0, nullptr, &auto_enable,
                                     &outputs, &by_tag, &rate),
              0);
    EXPECT_EQ(record, pattern(704, 2));
    EXPECT_EQ(+auto_enable, 1);
    EXPECT_EQ(+outputs, 1);
    EXPECT_EQ(+by_tag, 0);
    EXPECT_EQ(rate, 3600);
    const auto s = sent();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], std::string("IF,690,DEV,2,3,40,dev.extra,0") + '\0');
    EXPECT_EQ(s[1], std::string("GF,713,DEV,704,0, ,1,1,1,1") + '\0');
}

TEST_F(Requests, ChannelFallbackReadsTwoHundredRecordsIn151And49) {
    // A 40-character path: "QVR_CURRENT_CONFIG\" + device + "\ai".
    const std::string device(40 - 19 - 3, 'D');
    make_device(remote_config(), device, 210, 16, 70000);
    fail_next("IF", "-1,5");
    std::vector<qvr::ChannelRecord> records(200);
    std::string extra(70000, '\0');
    ASSERT_EQ(cfg_ReadChannelsAndExtra("plant2", device.c_str(), 0, records.data(), 5, 200, extra.data(),
                                       70000, "dev.extra"),
              0)
        << errno;
    EXPECT_EQ(as_text(records.data(), 200 * kRecord),
              pattern(210 * kRecord, 1).substr(5 * kRecord, 200 * kRecord));
    EXPECT_EQ(extra, pattern(70000, 3));
    const auto reads = file_requests(sent(), "RF,");
    ASSERT_EQ(reads.size(), 5u);
    const std::string path = "QVR_CURRENT_CONFIG\\" + device + "\\ai";
    ASSERT_EQ(path.size(), 40u);
    EXPECT_EQ(reads[0],
              (std::vector<std::string>{path, std::to_string(151 * kRecord), std::to_string(8 + 5 * kRecord),
                                        "0", "-2147483648", "3", "1", "3", "128"}));
    EXPECT_EQ(reads[1][1], std::to_string(49 * kRecord));
    EXPECT_EQ(reads[1][2], std::to_string(8 + 156 * kRecord));
    // The extra file: chunks of 32,668 less its path's length from offset 0.
    const std::string extra_path = "QVR_CURRENT_CONFIG\\" + device + "\\dev.extra";
    const int chunk = 32668 - static_cast<int>(extra_path.size());
    EXPECT_EQ(reads[2][0], extra_path);
    EXPECT_EQ(reads[2][1], std::to_string(chunk));
    EXPECT_EQ(reads[3][2], std::to_string(chunk));
    EXPECT_EQ(reads[4][1], std::to_string(70000 - 2 * chunk));
}

TEST_F(Requests, ShortSettingsReplyFallsBackAndFillsEveryOutput) {
    make_device(remote_config(), "DEV", 1, 704, 40);
    // A reply one byte short of config + extra + 9.
    dispatcher().script_reply("GF", "0," + std::string(704 + 40 + 9 - 3, 'x'));
    std::string record(704, '\0'), extra(40, '\0');
    uint8_t auto_enable = 9, outputs = 9, by_tag = 9;
    int32_t rate = 0;
    ASSERT_EQ(cfg_ReadDeviceSettings("plant2", "DEV", record.data(), 704, extra.data(), 40, "dev.extra",
                                     &auto_enable, &outputs, &by_tag, &rate),
              0)
        << errno;
    EXPECT_EQ(record, pattern(704, 2));
    EXPECT_EQ(extra, pattern(40, 3));
    EXPECT_EQ(+auto_enable, 1);
    EXPECT_EQ(+outputs, 1);
    EXPECT_EQ(+by_tag, 0);
    EXPECT_EQ(rate, 3600);
    const auto reads = file_requests(sent(), "RF,");
    ASSERT_EQ(reads.size(), 4u);
    EXPECT_EQ(reads[0][0], "QVR_CURRENT_CONFIG\\DEV\\config");
    EXPECT_EQ(reads[0][2], "1");  // the record follows the AutoEnable byte
    EXPECT_EQ(reads[2][0], "QVR_CURRENT_CONFIG\\DEV\\config");
    EXPECT_EQ(reads[2][1], "1");
    EXPECT_EQ(reads[2][2], "0");
    EXPECT_EQ(reads[3][0], "QVR_CURRENT_CONFIG\\DEV\\saveconfig");
    EXPECT_EQ(reads[3][1], "6");
}

TEST_F(Requests, ChannelReplyOfTheWrongLengthFallsBack) {
    make_device(remote_config(), "DEV", 2, 16, 0);
    dispatcher().script_reply("IF", "0," + std::string(2 * kRecord + 1, 'x'));  // one byte long
    std::vector<qvr::ChannelRecord> records(2);
    ASSERT_EQ(cfg_ReadChannels("plant2", "DEV", 0, records.data(), 0, 2), 0) << errno;
    EXPECT_EQ(as_text(records.data(), 2 * kRecord), pattern(2 * kRecord, 1));
    EXPECT_EQ(sent_codes(), (std::vector<std::string>{"IF", "RF"}));
}

TEST_F(Requests, AFallbackChunkThatComesBackShortFails) {
    make_device(remote_config(), "DEV", 2, 16, 0);
    fail_next("IF", "-1,5");
    std::vector<qvr::ChannelRecord> records(3);  // the table holds two
    EXPECT_EQ(cfg_ReadChannels("plant2", "DEV", 0, records.data(), 0, 3), -1);
    EXPECT_EQ(errno, 38);
}

TEST_F(Requests, Error1465IsFinalForEveryBulkRequest) {
    make_device(remote_config(), "DEV", 2, 16, 8);
    qvr_test::write_file(remote_config() / "config", "\1");
    const std::string records = pattern(2 * kRecord, 4);
    const std::string record = pattern(16, 4);
    struct Case {
        const char* code;
        std::function<int()> call;
    };
    const std::vector<Case> cases = {
        {"IF",
         [&] {
             std::vector<qvr::ChannelRecord> r(2);
             return cfg_ReadChannels("plant2", "DEV", 0, r.data(), 0, 2);
         }},
        {"GF",
         [&] {
             std::string r(16, '\0');
             return cfg_ReadDeviceConfig("plant2", "DEV", r.data(), 16);
         }},
        {"HF",
         [&] {
             return cfg_WriteChannels("plant2", "ann", "DEV", 0,
                                      reinterpret_cast<const qvr::ChannelRecord*>(records.data()), 0, 2);
         }},
        {"FF", [&] { return cfg_WriteDeviceConfig("plant2", "ann", "DEV", record.data(), 16); }},
        {"CF", [&] { return cfg_WriteLoggerConfig("plant2", "custom", 1, record.data(), 16, "ann"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        dispatcher().clear_requests();
        fail_next(c.code, std::string("-1,1465,") + c.code + " Required");
        EXPECT_EQ(c.call(), -1);
        EXPECT_EQ(errno, 1465);
        EXPECT_STREQ(xml_GetMessage(), (std::string(c.code) + " Required").c_str());
        EXPECT_EQ(sent_codes(), std::vector<std::string>{c.code});
    }
    EXPECT_EQ(file_of(remote_config() / "DEV" / "ai"), std::string(kHeader, '\0') + pattern(2 * kRecord, 1));
}

TEST_F(Requests, ChannelWriteFallbackChunksRecordsRewritesTheStampAndTouchesTheConfiguration) {
    const std::string device(40 - 19 - 3, 'D');
    make_device(remote_config(), device, 210, 16, 0);
    qvr_test::write_file(remote_config() / "config", "\3");
    fail_next("HF", "-1,5");
    const std::string records = pattern(200 * kRecord, 6);
    const std::string extra = pattern(100, 7);
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(cfg_WriteChannelsAndExtra("plant2", "ann", device.c_str(), 0,
                                        reinterpret_cast<const qvr::ChannelRecord*>(records.data()), 3, 200,
                                        extra.data(), 100, "dev.extra", 1),
              0)
        << errno;
    const std::string table = file_of(remote_config() / device / "ai");
    ASSERT_EQ(table.size(), kHeader + 210 * kRecord);
    EXPECT_EQ(table.substr(kHeader + 3 * kRecord, 200 * kRecord), records);
    EXPECT_EQ(table.substr(kHeader, 3 * kRecord), pattern(3 * kRecord, 1));
    EXPECT_EQ(file_of(remote_config() / device / "dev.extra"), extra);
    // The header holds a stamp of now (local wall-clock seconds).
    TimeStamp stamp{};
    std::memcpy(&stamp, table.data(), sizeof stamp);
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    EXPECT_NEAR(static_cast<double>(stamp.seconds), static_cast<double>(now.seconds), 5.0);
    EXPECT_GE(std::time(nullptr), before);

    const auto writes = file_requests(sent(), "WF,");
    ASSERT_EQ(writes.size(), 5u);
    const std::string path = "QVR_CURRENT_CONFIG\\" + device + "\\ai";
    EXPECT_EQ(writes[0],
              (std::vector<std::string>{path, std::to_string(151 * kRecord), std::to_string(8 + 3 * kRecord),
                                        "0", "-1073741824", "3", "1", "3", "128"}));
    EXPECT_EQ(writes[1][1], std::to_string(49 * kRecord));
    EXPECT_EQ(writes[1][2], std::to_string(8 + 154 * kRecord));
    EXPECT_EQ(writes[2][0], path);
    EXPECT_EQ(writes[2][1], "8");
    EXPECT_EQ(writes[2][2], "0");
    EXPECT_EQ(writes[3][0], "QVR_CURRENT_CONFIG\\" + device + "\\dev.extra");
    EXPECT_EQ(writes[3][7], "4");
    // The AutoEnable read-back of the configuration folder's own "config".
    const auto s = sent();
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(file_fields(s[s.size() - 2]),
              (std::vector<std::string>{"QVR_CURRENT_CONFIG\\config", "1", "0", "0", "-2147483648", "3", "1",
                                        "3", "128"}));
    EXPECT_TRUE(
        s.back().starts_with("WF,QVR_CURRENT_CONFIG\\config\t1\t0\t0\t-1073741824\t3\t1\t3\t128\t\3"));
    EXPECT_EQ(file_of(remote_config() / "config"), "\3");
}

TEST_F(Requests, NoTouchWhenTheConfigurationFolderHasNoConfig) {
    make_device(remote_config(), "DEV", 2, 16, 0);
    const std::string records = pattern(kRecord, 6);
    ASSERT_EQ(cfg_WriteChannels("plant2", "ann", "DEV", 0,
                                reinterpret_cast<const qvr::ChannelRecord*>(records.data()), 0, 1),
              0)
        << errno;
    EXPECT_EQ(sent_codes(), (std::vector<std::string>{"HF", "RF"}));
    EXPECT_FALSE(capture_.lines("not marked changed").empty());
    EXPECT_FALSE(fs::exists(remote_config() / "config"));
    EXPECT_EQ(file_of(remote_config() / "DEV" / "ai").substr(kHeader, kRecord), records);
}

TEST_F(Requests, WriteRequestsCarryTheUserAndSpacesForEmptyFields) {
    make_device(remote_config(), "DEV", 2, 16, 0);
    const std::string records = pattern(2 * kRecord, 6);
    ASSERT_EQ(cfg_WriteChannels("plant2", nullptr, "DEV", 1,
                                reinterpret_cast<const qvr::ChannelRecord*>(records.data()), 0, 2),
              0);
    const std::string login = platform::user_name().substr(0, 33);
    const std::string hf = sent().at(0);
    EXPECT_EQ(hf.substr(0, hf.find('\0')), "HF,432," + login + ",DEV,0,2,0, ,1,1");
    EXPECT_EQ(hf.size(), hf.find('\0') + 1 + 2 * kRecord);
    EXPECT_EQ(hf.substr(hf.find('\0') + 1), records);

    dispatcher().clear_requests();
    const std::string record = pattern(16, 2);
    const uint8_t auto_enable = 1;
    const int32_t rate = -5;
    const std::string long_user(40, 'u');
    ASSERT_EQ(cfg_WriteDeviceSettings("plant2", long_user.c_str(), "DEV", record.data(), 16, nullptr, 0, "",
                                      &auto_enable, nullptr, nullptr, &rate),
              0);
    const std::string ff = sent().at(0);
    EXPECT_EQ(ff.substr(0, ff.find('\0')), "FF,16," + std::string(33, 'u') + ",DEV,16,0, ,1, , ,-5");
    EXPECT_EQ(ff.substr(ff.find('\0') + 1), record);
    EXPECT_EQ(file_of(remote_config() / "DEV" / "config"), std::string(1, '\1') + record);
    EXPECT_EQ(file_of(remote_config() / "DEV" / "saveconfig").substr(2), std::string("\xfb\xff\xff\xff", 4));
    EXPECT_EQ(cfg_WriteChannels("plant2", "a,b", "DEV", 1,
                                reinterpret_cast<const qvr::ChannelRecord*>(records.data()), 0, 1),
              -1);
    EXPECT_EQ(errno, 87);
}

TEST_F(Requests, SettingsWriteFallbackWritesAutoEnableAndAutosaveToo) {
    make_device(remote_config(), "DEV", 1, 16, 8);
    fail_next("FF", "-1,5");
    const std::string record = pattern(16, 7), extra = pattern(8, 8);
    const uint8_t auto_enable = 0, outputs = 0, by_tag = 1;
    const int32_t rate = 90;
    ASSERT_EQ(cfg_WriteDeviceSettings("plant2", "ann", "DEV", record.data(), 16, extra.data(), 8, "dev.extra",
                                      &auto_enable, &outputs, &by_tag, &rate),
              0)
        << errno;
    EXPECT_EQ(file_of(remote_config() / "DEV" / "config"), std::string(1, '\0') + record);
    EXPECT_EQ(file_of(remote_config() / "DEV" / "dev.extra"), extra);
    EXPECT_EQ(file_of(remote_config() / "DEV" / "saveconfig"), std::string("\0\1\x5a\0\0\0", 6));

    // A part left out keeps its stored value.
    fail_next("FF", "-1,5");
    const int32_t other_rate = 3600;
    ASSERT_EQ(cfg_WriteDeviceSettings("plant2", "ann", "DEV", nullptr, 0, nullptr, 0, nullptr, nullptr,
                                      nullptr, nullptr, &other_rate),
              0);
    EXPECT_EQ(file_of(remote_config() / "DEV" / "saveconfig"), std::string("\0\1\x10\x0e\0\0", 6));
    EXPECT_EQ(file_of(remote_config() / "DEV" / "config"), std::string(1, '\0') + record);
}

TEST_F(Requests, AutoEnableAndAutosaveAreOneFileRequestEach) {
    make_device(remote_config(), "DEV", 1, 16, 0);
    ASSERT_EQ(cfg_WriteAutoEnable("plant2", "ann", "DEV", 0), 0);
    ASSERT_EQ(cfg_WriteAutosaveSettings("plant2", "ann", "DEV", 0, 1, 7), 0);
    uint8_t auto_enable = 9, outputs = 9, by_tag = 9;
    int32_t rate = 0;
    ASSERT_EQ(cfg_ReadAutoEnable("plant2", "DEV", &auto_enable), 0);
    ASSERT_EQ(cfg_ReadAutosaveSettings("plant2", "DEV", &outputs, &by_tag, &rate), 0);
    EXPECT_EQ(+auto_enable, 0);
    EXPECT_EQ(+outputs, 0);
    EXPECT_EQ(+by_tag, 1);
    EXPECT_EQ(rate, 7);
    const auto s = sent();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(file_fields(s[0]), (std::vector<std::string>{"QVR_CURRENT_CONFIG\\DEV\\config", "1", "0", "0",
                                                           "-1073741824", "3", "1", "4", "128"}));
    EXPECT_EQ(file_fields(s[1])[0], "QVR_CURRENT_CONFIG\\DEV\\saveconfig");
    EXPECT_EQ(file_fields(s[1])[1], "6");
    EXPECT_EQ(sent_codes(), (std::vector<std::string>{"WF", "WF", "RF", "RF"}));
}

TEST_F(Requests, LoggerReadsIn65512ByteChunksAndWritesByCF) {
    const std::string big = pattern(140000, 3);
    qvr_test::write_file(remote_config() / "LOGGERS" / "custom_2", big);
    std::string record(140000, '\0');
    ASSERT_EQ(cfg_ReadLoggerConfig("plant2", "custom", 2, record.data(), 140000), 0) << errno;
    EXPECT_EQ(record, big);
    const auto reads = file_requests(sent(), "RF,");
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0][0], "QVR_CURRENT_CONFIG\\LOGGERS\\custom_2");
    EXPECT_EQ(reads[0][1], "65512");
    EXPECT_EQ(reads[1][2], "65512");
    EXPECT_EQ(reads[2][1], std::to_string(140000 - 2 * 65512));
    std::string longer(140001, '\0');
    EXPECT_EQ(cfg_ReadLoggerConfig("plant2", "custom", 2, longer.data(), 140001), -1);  // a short chunk

    dispatcher().clear_requests();
    const std::string logger = pattern(500, 4);
    ASSERT_EQ(cfg_WriteLoggerConfig("plant2", "stand", 3, logger.data(), 500, "ann"), 0) << errno;
    // The record right after the final comma, no NUL between.
    EXPECT_EQ(sent(), std::vector<std::string>{"CF,stand,3,500,ann," + logger});
    EXPECT_EQ(file_of(remote_config() / "LOGGERS" / "stand_3"), logger);

    dispatcher().clear_requests();
    fail_next("CF", "-1,5");
    const std::string other = pattern(40000, 5);
    ASSERT_EQ(cfg_WriteLoggerConfig("plant2", "stand", 4, other.data(), 40000, ""), 0) << errno;
    const auto writes = file_requests(sent(), "WF,");
    ASSERT_EQ(writes.size(), 2u);
    const std::string path = "QVR_CURRENT_CONFIG\\LOGGERS\\stand_4";
    EXPECT_EQ(writes[0][1], std::to_string(32668 - path.size()));
    EXPECT_EQ(writes[1][2], std::to_string(32668 - path.size()));
    EXPECT_EQ(file_of(remote_config() / "LOGGERS" / "stand_4"), other);
}

TEST_F(Requests, FallbackWritesGiveTheSameFilesAsTheBulkRequests) {
    // One tree written by the requests, one by their fallbacks, from the same start.
    const std::string records = pattern(3 * kRecord, 6), extra = pattern(24, 7), record = pattern(32, 8),
                      logger = pattern(600, 9);
    const uint8_t auto_enable = 0, outputs = 1, by_tag = 1;
    const int32_t rate = 45;
    std::map<std::string, std::string> trees[2];
    for (int fallback = 0; fallback < 2; ++fallback) {
        SCOPED_TRACE(fallback);
        fs::remove_all(remote_config());
        make_device(remote_config(), "DEV", 5, 32, 24);
        qvr_test::write_file(remote_config() / "config", "\1");
        fs::create_directories(remote_config() / "LOGGERS");
        if (fallback != 0)
            for (const char* code : {"HF", "FF", "CF"}) fail_next(code, "-1,5");
        ASSERT_EQ(cfg_WriteChannelsAndExtra("plant2", "ann", "DEV", 0,
                                            reinterpret_cast<const qvr::ChannelRecord*>(records.data()), 1, 3,
                                            extra.data(), 24, "dev.extra", 1),
                  0);
        ASSERT_EQ(cfg_WriteDeviceSettings("plant2", "ann", "DEV", record.data(), 32, extra.data(), 24,
                                          "dev.extra", &auto_enable, &outputs, &by_tag, &rate),
                  0);
        ASSERT_EQ(cfg_WriteLoggerConfig("plant2", "stand", 1, logger.data(), 600, "ann"), 0);
        for (const auto& e : fs::recursive_directory_iterator(remote_config())) {
            if (!e.is_regular_file()) continue;
            std::string bytes = qvr_test::read_file(e.path());
            if (e.path().filename() == "ai") bytes.replace(0, kHeader, kHeader, '\0');  // the stamp of now
            trees[fallback][fs::relative(e.path(), remote_config()).string()] = bytes;
        }
    }
    EXPECT_EQ(trees[0], trees[1]);
    EXPECT_EQ(trees[0].at("DEV/ai").substr(kHeader + kRecord, 3 * kRecord), records);
}

TEST_F(Requests, FallbackReadsGiveTheSameRecordsAsTheBulkRequests) {
    make_device(remote_config(), "DEV", 6, 704, 100);
    std::string results[2];
    for (int fallback = 0; fallback < 2; ++fallback) {
        if (fallback != 0)
            for (const char* code : {"IF", "GF"}) fail_next(code, "-1,5");
        std::vector<qvr::ChannelRecord> records(4);
        std::string extra(100, '\0'), record(704, '\0'), extra2(100, '\0');
        uint8_t a = 0, o = 0, t = 0;
        int32_t r = 0;
        ASSERT_EQ(cfg_ReadChannelsAndExtra("plant2", "DEV", 0, records.data(), 2, 4, extra.data(), 100,
                                           "dev.extra"),
                  0);
        ASSERT_EQ(cfg_ReadDeviceSettings("plant2", "DEV", record.data(), 704, extra2.data(), 100, "dev.extra",
                                         &a, &o, &t, &r),
                  0);
        results[fallback] = as_text(records.data(), 4 * kRecord) + extra + record + extra2 + char(a) +
                            char(o) + char(t) + std::to_string(r);
    }
    EXPECT_EQ(results[0], results[1]);
}

TEST_F(Requests, PushOfAnEmptyFileEmptiesTheServerFile) {
    qvr_test::write_file(remote_config() / "DEV" / "notes.txt", "old content");
    const fs::path source = temp_.path() / "empty.txt";
    qvr_test::write_file(source, "");
    ASSERT_EQ(cfg_PushRemoteFile("plant2", "DEV", "notes.txt", source.c_str()), 0) << errno;
    EXPECT_EQ(file_of(remote_config() / "DEV" / "notes.txt"), "");
    const auto writes = file_requests(sent(), "WF,");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], (std::vector<std::string>{"QVR_CURRENT_CONFIG\\DEV\\notes.txt", "0", "0", "0",
                                                   "1073741824", "3", "1", "2", "128"}));
}

TEST_F(Requests, PushCreatesTheFileAnewInChunks) {
    qvr_test::write_file(remote_config() / "big.bin", pattern(90000, 1));
    const fs::path source = temp_.path() / "big.bin";
    const std::string content = pattern(70000, 2);
    qvr_test::write_file(source, content);
    ASSERT_EQ(cfg_PushRemoteFile("plant2", nullptr, "big.bin", source.c_str()), 0) << errno;
    EXPECT_EQ(file_of(remote_config() / "big.bin"), content);
    const auto writes = file_requests(sent(), "WF,");
    ASSERT_EQ(writes.size(), 3u);
    const std::string path = "QVR_CURRENT_CONFIG\\big.bin";
    EXPECT_EQ(writes[0][0], path);
    EXPECT_EQ(writes[0][1], std::to_string(32668 - path.size()));
    EXPECT_EQ(writes[0][7], "2");
    EXPECT_EQ(writes[1][7], "3");
    EXPECT_EQ(writes[2][7], "3");
    EXPECT_EQ(cfg_PushRemoteFile("plant2", nullptr, "big.bin", (temp_.path() / "none").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(Requests, NamesThatWouldLeaveTheFolderOrShiftFieldsAreRefused) {
    std::string record(16, '\0');
    std::vector<qvr::ChannelRecord> records(1);
    for (const char* device : {"..", "a\\b", "a/b", "a,b", "a\tb"}) {
        SCOPED_TRACE(device);
        EXPECT_EQ(cfg_ReadDeviceConfig("plant2", device, record.data(), 16), -1);
        EXPECT_EQ(errno, 87);
        EXPECT_EQ(cfg_ReadChannels("plant2", device, 0, records.data(), 0, 1), -1);
    }
    EXPECT_EQ(cfg_ReadChannels("plant2", "DEV", 9, records.data(), 0, 1), -1);  // no such kind
    EXPECT_EQ(cfg_ReadChannels("plant2", "DEV", 0, records.data(), -1, 1), -1);
    EXPECT_EQ(cfg_ReadLoggerConfig("plant2", "../x", 1, record.data(), 16), -1);
    EXPECT_EQ(dispatcher().request_count(), 0u);
}

}  // namespace
