// A separate process that saves files through the file layer, for tests of several
// processes, of a process killed half way and of limits a test process must not take on.
//   file_save_client save <path> <letters> <size> <count>
//       saves <count> times a file of <size> bytes, every byte the same letter, cycling
//       through <letters>; prints "result <errno>" (0 when every save succeeded)
//   file_save_client loop <path> <size>
//       saves for ever, alternating "A" and "B" files; prints "ready" after the first
//   file_save_client fullfs <folder> <kib> <size>
//       in a mount namespace of its own, mounts a <kib> KiB tmpfs on <folder>, saves a small
//       "old" file, then one of <size> bytes; prints "result", "content" and "entries", or
//       "unsupported" where mounting is not allowed
//   file_save_client hold <path> <size>
//       saves a file of <size> bytes "H" and stops before the rename: prints
//       "temporary <path of its temporary>" and waits there until killed
//   file_save_client append <path> <id> <count>
//       appends <count> lines "<id> <i> <filler>" of varying length with append_whole
// Prefixing any command with "as-user <uid>" drops to that user first, and with
// "limit <bytes>" limits the size of files it writes (SIGXFSZ ignored, so writes fail).
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_save.h"
#include "platform/testing/file_save_testing.h"

namespace {

int finish(int error) {
    std::printf("result %d\n", error);
    std::fflush(stdout);
    return error == 0 ? 0 : 1;
}

int save_letter(const std::string& path, char letter, std::size_t size) {
    return platform::save_file(path, std::string(size, letter)) == 0 ? 0 : errno;
}

int save_many(const std::string& path, const std::string& letters, std::size_t size, long count) {
    for (long i = 0; i < count; ++i) {
        if (int error = save_letter(path, letters[static_cast<std::size_t>(i) % letters.size()], size); error != 0)
            return finish(error);
    }
    return finish(0);
}

int save_forever(const std::string& path, std::size_t size) {
    if (int error = save_letter(path, 'A', size); error != 0) return finish(error);
    std::printf("ready\n");
    std::fflush(stdout);
    for (unsigned i = 1;; ++i) {
        if (int error = save_letter(path, i % 2 != 0 ? 'B' : 'A', size); error != 0) return finish(error);
    }
}

void stop_before_rename(const char* temporary) {
    std::printf("temporary %s\n", temporary);
    std::fflush(stdout);
    for (;;) ::pause();
}

int hold_before_rename(const std::string& path, std::size_t size) {
    platform::set_before_rename_hook(&stop_before_rename);
    return finish(save_letter(path, 'H', size));
}

int save_on_small_disk(const std::string& folder, long kib, std::size_t size) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + std::to_string(kib) + "k").c_str()) != 0) {
        std::printf("unsupported %d\n", errno);
        return 0;
    }
    const std::string path = folder + "/values.bin";
    if (platform::save_file(path, std::string("old")) != 0) return finish(errno);
    const int error = save_letter(path, 'N', size);
    std::string content;
    platform::read_file(path, content, size + 16);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++entries;
    std::printf("content %s\nentries %zu\n", content.c_str(), entries);
    return finish(error);
}

int append_lines(const std::string& path, const std::string& id, long count) {
    const platform::UniqueFd fd = platform::open_file(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (!fd) return finish(errno);
    for (long i = 0; i < count; ++i) {
        const std::string line = id + " " + std::to_string(i) + " " +
                                 std::string(static_cast<std::size_t>(1 + (i * 37) % 3000), id[0]) + "\n";
        if (platform::append_whole(fd.get(), line) != 0) return finish(errno);
    }
    return finish(0);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "as-user") {
        const auto uid = static_cast<uid_t>(std::stoul(args[1]));
        if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0) return finish(errno);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() >= 2 && args[0] == "limit") {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlim_t bytes = std::stoul(args[1]);
        const rlimit bound{bytes, bytes};
        if (::setrlimit(RLIMIT_FSIZE, &bound) != 0) return finish(errno);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() == 5 && args[0] == "save") return save_many(args[1], args[2], std::stoul(args[3]), std::stol(args[4]));
    if (args.size() == 3 && args[0] == "loop") return save_forever(args[1], std::stoul(args[2]));
    if (args.size() == 3 && args[0] == "hold") return hold_before_rename(args[1], std::stoul(args[2]));
    if (args.size() == 4 && args[0] == "fullfs")
        return save_on_small_disk(args[1], std::stol(args[2]), std::stoul(args[3]));
    if (args.size() == 4 && args[0] == "append") return append_lines(args[1], args[2], std::stol(args[3]));
    std::fprintf(stderr, "usage: file_save_client save|loop|hold|fullfs|append ...\n");
    return 2;
}
