// A separate process that holds or probes byte locks, for tests of locks between processes.
//   byte_lock_client hold <path> <offset>
//       locks the byte at <offset>, prints "locked" (or "result <errno>") and waits to be killed
//   byte_lock_client probe <path> <offset> <length>
//       probes the range and prints "result <errno>" (0: nobody else holds it)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/byte_lock.h"
#include "platform/file_io.h"

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string command = argv[1];
    platform::UniqueFd fd = platform::open_file(argv[2], O_RDWR);
    if (!fd) {
        std::printf("result %d\n", errno);
        return 1;
    }
    const std::uint64_t offset = std::strtoull(argv[3], nullptr, 10);
    if (command == "hold") {
        if (platform::lock_byte(fd.get(), offset) != 0) {
            std::printf("result %d\n", errno);
            return 1;
        }
        std::printf("locked\n");
        std::fflush(stdout);
        for (;;) pause();
    }
    if (command == "probe" && argc >= 5) {
        const int rc = platform::probe_range(fd.get(), offset, std::strtoull(argv[4], nullptr, 10));
        std::printf("result %d\n", rc == 0 ? 0 : errno);
        return 0;
    }
    return 2;
}
