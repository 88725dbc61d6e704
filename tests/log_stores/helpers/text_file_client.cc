// A separate process that edits a logger text file, for tests of edits of several processes.
//   text_file_client replace <path> <section> <count>
//       replaces <section> <count> times by "<section> <i>\r\n"; prints "result <errno>"
//   text_file_client add <path> <id> <count>
//       adds <count> event lines to section TEXT at 1,000,000,000 + 2 i + <id> seconds, text
//       "<id> <i>"; prints "result <errno>"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log_stores/text_files/text_edit.h"

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const std::string command = argv[1];
    const int count = std::atoi(argv[4]);
    if (command == "add") {
        const int id = std::atoi(argv[3]);
        for (int i = 0; i < count; ++i) {
            const TimeStamp time{1'000'000'000 + 2 * i + id, 0, 0};
            const std::string text = std::to_string(id) + " " + std::to_string(i);
            if (log_stores::text_files::AddTextLine(argv[2], "TEXT", time, text, text.c_str(), {}) != 0) {
                std::printf("result %d\n", errno);
                return 1;
            }
        }
        std::printf("result 0\n");
        return 0;
    }
    if (command != "replace") return 2;
    const std::string section = argv[3];
    for (int i = 0; i < count; ++i) {
        if (log_stores::text_files::ReplaceTextSection(argv[2], section, section + " " + std::to_string(i) + "\r\n") != 1) {
            std::printf("result %d\n", errno);
            return 1;
        }
    }
    std::printf("result 0\n");
    return 0;
}
