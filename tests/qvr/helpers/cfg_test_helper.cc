// The other process of the configuration store tests.
//   append FOLDER COUNT NAME   COUNT audit entries of setting NAME for saves into FOLDER
//   save-loop DIR KIND COUNT   saves COUNT channels of KIND again and again, two contents in
//                              turn, until killed ("saving" once the first save is done)
//   save-one DIR KIND INDEX ROUNDS  saves channel INDEX alone ROUNDS times, tagged
//                              "P<index>R<round>"
//   hold PREFIX SAVE...        runs SAVE and stops before renaming the first temporary whose
//                              name begins with PREFIX: prints "held <temporary>" and waits
//                              there until killed. SAVE is one of
//                                channel DIR KIND INDEX TAG   channel INDEX tagged TAG
//                                config DIR NAME              a test device's record named NAME
//                                logger DIR N NAME            resubscriber N named NAME
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/testing/file_save_testing.h"
#include "plugins/test_plugin_records.h"
#include "qvr/config/cfg_audit.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/logger_config/logger_config.h"

namespace {

int append(const char* folder, int count, const char* name) {
    qvr::AuditTrail trail(folder);
    for (int i = 0; i < count; ++i) {
        const std::string old_text = "old\tvalue " + std::to_string(i);
        const std::string new_text = "new\r\nvalue " + std::to_string(i) + std::string(200, 'x');
        trail.write("helper", i + 1, name, old_text, new_text);
    }
    std::puts("done");
    return 0;
}

// Content `which` (0 or 1) of a table: every record says which one it belongs to.
std::vector<qvr::ChannelRecord> content(int kind, int count, int which) {
    std::vector<qvr::ChannelRecord> records(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        qvr::ChannelRecord& r = records[static_cast<std::size_t>(i)];
        r.head.Type = static_cast<qvr::ChannelKind>(kind);
        r.head.Flags.set(qvr::AnalogFlag::Enable, true);
        const std::string tag = (which == 0 ? "A" : "B") + std::to_string(i);
        qvr::split_text(r, qvr::ChannelText::Tag, tag);
        qvr::split_text(r, qvr::ChannelText::Description, which == 0 ? "first content" : "second content");
    }
    return records;
}

int save_loop(const char* dir, int kind, int count) {
    const std::vector<qvr::ChannelRecord> tables[2] = {content(kind, count, 0), content(kind, count, 1)};
    for (long n = 0;; ++n) {
        const auto& t = tables[n % 2];
        if (cfg_SaveChannelsRewrite(nullptr, dir, kind, t.data(), 0, count, nullptr, 0, nullptr) != 0) {
            std::printf("failed %d\n", errno);
            std::fflush(stdout);
            return 1;
        }
        if (n == 0) {
            std::puts("saving");
            std::fflush(stdout);
        }
    }
}

int save_one(const char* dir, int kind, int index, int rounds) {
    for (int round = 0; round < rounds; ++round) {
        qvr::ChannelRecord r{};
        r.head.Type = static_cast<qvr::ChannelKind>(kind);
        qvr::split_text(r, qvr::ChannelText::Tag, "P" + std::to_string(index) + "R" + std::to_string(round));
        if (cfg_SaveChannelsUpdate(nullptr, dir, kind, &r, index, 1, nullptr, 0, nullptr) != 0) {
            std::printf("failed %d\n", errno);
            return 1;
        }
    }
    return 0;
}

std::string g_hold_prefix;

void stop_at_prefix(const char* temporary) {
    const char* slash = std::strrchr(temporary, '/');
    const std::string name = slash != nullptr ? slash + 1 : temporary;
    if (name.rfind(g_hold_prefix, 0) != 0) return;
    std::printf("held %s\n", temporary);
    std::fflush(stdout);
    for (;;) ::pause();
}

int save_held(const std::vector<std::string>& save) {
    int result = -1;
    if (save.size() == 5 && save[0] == "channel") {
        qvr::ChannelRecord r{};
        r.head.Type = static_cast<qvr::ChannelKind>(std::atoi(save[2].c_str()));
        r.head.Flags.set(qvr::AnalogFlag::Enable, true);
        qvr::split_text(r, qvr::ChannelText::Tag, save[4]);
        result = cfg_SaveChannelsUpdate(nullptr, save[1].c_str(), std::atoi(save[2].c_str()), &r,
                                        std::atoi(save[3].c_str()), 1, nullptr, 0, nullptr);
    } else if (save.size() == 3 && save[0] == "config") {
        test_plugin::Config c{};
        std::snprintf(c.Name, sizeof c.Name, "%s", save[2].c_str());
        result = cfg_SaveDeviceConfig(nullptr, save[1].c_str(), &c, sizeof c, nullptr, 0, nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
    } else if (save.size() == 4 && save[0] == "logger") {
        std::vector<std::uint8_t> r(1480, 0);
        std::snprintf(reinterpret_cast<char*>(&r[1]), 130, "%s", save[3].c_str());
        result = cfg_SaveLoggerConfig(save[1].c_str(), nullptr, "resub", std::atoi(save[2].c_str()), r.data(),
                                      static_cast<int32_t>(r.size()));
    } else {
        std::fprintf(stderr, "unknown save\n");
        return 2;
    }
    std::printf("not held: result %d errno %d\n", result, errno);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "hold") == 0) {
        g_hold_prefix = argv[2];
        platform::set_before_rename_hook(&stop_at_prefix);
        return save_held(std::vector<std::string>(argv + 3, argv + argc));
    }
    if (argc == 5 && std::strcmp(argv[1], "append") == 0) return append(argv[2], std::atoi(argv[3]), argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "save-loop") == 0)
        return save_loop(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (argc == 6 && std::strcmp(argv[1], "save-one") == 0)
        return save_one(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    std::fprintf(stderr, "usage: cfg_test_helper append|save-loop|save-one|hold ...\n");
    return 2;
}
