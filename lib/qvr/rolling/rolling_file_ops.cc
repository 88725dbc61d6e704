#include "qvr/rolling/rolling_file_ops.h"

#include "platform/file_io.h"
#include "qvr/testing/rolling_testing.h"

namespace qvr::rolling {
namespace {

std::function<int(int, std::span<const std::uint8_t>)>& write_hook() {
    static std::function<int(int, std::span<const std::uint8_t>)> hook;
    return hook;
}

}  // namespace

int writer_write(int fd, std::span<const std::uint8_t> bytes) {
    if (auto& hook = write_hook()) return hook(fd, bytes);
    return platform::write_all(fd, bytes);
}

}  // namespace qvr::rolling

namespace qvr::rolling_testing {

void set_write_hook(std::function<int(int, std::span<const std::uint8_t>)> hook) {
    rolling::write_hook() = std::move(hook);
}

int real_write(int fd, std::span<const std::uint8_t> bytes) { return platform::write_all(fd, bytes); }

}  // namespace qvr::rolling_testing
