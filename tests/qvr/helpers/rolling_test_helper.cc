// The other process of the rolling data file tests.
//   probe <file> <offset> <length>: exit 0 when no other open file holds a lock there, 1 when
//       one does (a reader finding where the complete data ends), 2 on an error.
//   limited <folder> <file size limit>: records under RLIMIT_FSIZE, one block that fits and
//       then blocks beyond the limit, and prints what the writer reported.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/byte_lock.h"
#include "qvr/rolling/rolling_file.h"

namespace {

int probe(const char* path, const char* offset, const char* length) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 2;
    const int result = platform::probe_range(fd, std::strtoull(offset, nullptr, 10), std::strtoull(length, nullptr, 10));
    close(fd);
    if (result == 0) return 0;
    return errno == 33 ? 1 : 2;
}

bool wait_written(uint32_t position, uint32_t length) {
    for (int i = 0; i < 500; ++i) {
        if (rf_IsPending(position, length) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int limited(const char* folder, const char* limit_text) {
    const rlim_t limit = std::strtoull(limit_text, nullptr, 10);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit fsize{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &fsize) != 0) return 2;
    if (rf_Setup(nullptr, folder, nullptr, ".dat", "LIM") != 0 || rf_Create(1'000'000) != 0) return 2;
    std::vector<std::uint8_t> buffer(4 * limit);
    for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<std::uint8_t>(i / limit + 'A');
    if (rf_StartWriter(8, static_cast<uint32_t>(buffer.size()), 1) != 0) return 2;
    const auto block = static_cast<uint32_t>(limit);
    // The first block fills the file up to the limit; the second (not adjacent) cannot go.
    std::printf("first=%d\n", rf_Queue(buffer.data(), block, 1, 0));
    if (!wait_written(0, block)) return 3;
    std::printf("second=%d\n", rf_Queue(buffer.data() + 2 * block, block, 1, 2 * block));
    if (!wait_written(2 * block, block)) return 3;
    for (int i = 0; i < 2; ++i) {
        errno = 0;
        const int queued = rf_Queue(buffer.data() + block, block, 1, block);
        std::printf("later=%d errno=%d\n", queued, errno);
    }
    errno = 0;
    const int stopped = rf_StopWriter();
    std::printf("stop=%d errno=%d\n", stopped, errno);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "probe" && argc == 5) return probe(argv[2], argv[3], argv[4]);
    if (mode == "limited" && argc == 4) return limited(argv[2], argv[3]);
    std::fprintf(stderr, "usage: rolling_test_helper probe <file> <offset> <length> | limited <folder> <limit>\n");
    return 2;
}
