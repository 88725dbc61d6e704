#include "tolva_sc/channel_reload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/time/timestamp.h"
#include "tolva_sc/saved_values.h"

namespace tolva {

namespace {

class SectionLock {
  public:
    explicit SectionLock(void* section) : section_(section), locked_(shm_Lock(section) >= 0) {}
    ~SectionLock() {
        if (locked_) shm_Unlock(section_);
    }
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;
    bool locked() const { return locked_; }

  private:
    void* section_;
    bool locked_;
};

TimeStamp load_stamp(std::span<const std::byte> bytes, size_t offset) {
    TimeStamp t{};
    std::memcpy(&t, bytes.data() + offset, sizeof t);
    return t;
}

bool same_stamp(const TimeStamp& a, const TimeStamp& b) {
    return a.seconds == b.seconds && a.milliseconds == b.milliseconds && a.microseconds == b.microseconds;
}

}  // namespace

int reload_channels_if_changed(int kind, void* data_module, void* conf_module,
                               const ChannelTableLoader& load) {
    // This device type keeps its channel tables in the binary files only: the file is named
    // by the kind word alone.
    const std::string_view word = kind_word(kind);
    if (word.empty()) return platform::fail(EINVAL);
    const std::string name(word);
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return platform::fail_from_errno();
    struct stat st {};
    const int stat_rc = ::fstat(fd, &st);
    ::close(fd);
    if (stat_rc != 0) return platform::fail_from_errno();
    const timeval written{st.st_mtim.tv_sec, st.st_mtim.tv_nsec / 1000};
    TimeStamp file_time{};
    rt_MicrosToStamp(&written, &file_time);

    const std::span<std::byte> data = qvr::section_bytes(data_module);
    const std::span<std::byte> conf = qvr::section_bytes(conf_module);
    if (data.size() < qvr::kConfigTimeOffset + sizeof(TimeStamp) || conf.empty()) {
        return platform::fail(platform::kErrorBadNetName);
    }
    uint16_t count = 0;
    {
        SectionLock lock(data_module);
        if (!lock.locked()) return -1;
        if (same_stamp(load_stamp(data, qvr::kConfigTimeOffset), file_time)) return 0;
        count = qvr::load_u16(data, qvr::kChannelCountOffset);
    }
    if (!load) return platform::fail(ENOSYS);

    const size_t n = std::min<size_t>(count, qvr::conf_record_count(conf));
    {
        SectionLock lock(conf_module);
        if (!lock.locked()) return -1;
        auto* first = reinterpret_cast<qvr::ChannelRecord*>(conf.data() + qvr::kConfRecordsOffset);
        if (load(kind, std::span(first, n)) != 0) return -1;
    }
    {
        SectionLock lock(data_module);
        if (!lock.locked()) return -1;
        std::memcpy(data.data() + qvr::kConfigTimeOffset, &file_time, sizeof file_time);
    }
    shm_SignalWaiters(conf_module, 0);
    return static_cast<int>(n * qvr::kChannelRecordSize);
}

}  // namespace tolva
