// The other process of the configuration store tests.
//   append FOLDER COUNT NAME   COUNT audit entries of setting NAME for saves into FOLDER
//   save-loop DIR KIND COUNT   saves COUNT channels of KIND again and again, two contents in
//                              turn, until killed ("saving" once the first save is done)
//   save-one DIR KIND INDEX ROUNDS  saves channel INDEX alone ROUNDS times, tagged
//                              "P<index>R<round>"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qvr/config/cfg_audit.h"
#include "qvr/config/cfg_channel_tables.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "append") == 0) return append(argv[2], std::atoi(argv[3]), argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "save-loop") == 0)
        return save_loop(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (argc == 6 && std::strcmp(argv[1], "save-one") == 0)
        return save_one(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    std::fprintf(stderr, "usage: cfg_test_helper append|save-loop|save-one ...\n");
    return 2;
}
