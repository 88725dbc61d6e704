// A separate process that edits a logger text file, for tests of edits of several processes.
//   text_file_client replace <path> <section> <count>
//       replaces <section> <count> times by "<section> <i>\r\n"; prints "result <errno>"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log_stores/text_files/text_edit.h"

int main(int argc, char** argv) {
    if (argc < 5 || std::string(argv[1]) != "replace") return 2;
    const std::string section = argv[3];
    const int count = std::atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
        if (log_stores::text_files::ReplaceTextSection(argv[2], section, section + " " + std::to_string(i) + "\r\n") != 1) {
            std::printf("result %d\n", errno);
            return 1;
        }
    }
    std::printf("result 0\n");
    return 0;
}
