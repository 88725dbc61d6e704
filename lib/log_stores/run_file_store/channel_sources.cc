#include "log_stores/run_file_store/channel_sources.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/last_error.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/ipc/shm.h"
#include "qvr/link/link.h"
#include "qvr/requests/value_requests.h"

namespace log_stores::run_file_store {

namespace {
constexpr std::size_t kConfigurationReplyOffset = 8;

std::string module_code(const BlockDescriptor& block) {
    std::string code;
    for (char c : block.prefix)
        if (c != '\0') code.push_back(c);
    return code;
}

class SectionLock {
  public:
    explicit SectionLock(void* section) : section_(shm_Lock(section) == 0 ? section : nullptr) {}
    ~SectionLock() {
        if (section_ != nullptr) shm_Unlock(section_);
    }
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;
    bool held() const { return section_ != nullptr; }

  private:
    void* section_;
};
}  // namespace

int copy_live_configurations(const BlockDescriptor& block, std::span<qvr::ChannelRecord> out) {
    if (block.firstChannel == 0 || out.size() != block.channel_count())
        return platform::fail(platform::kErrorInvalidParameter);
    const std::string code = module_code(block);
    void* conf = shm_OpenDeviceConf(code.c_str());
    if (conf == nullptr) return -1;
    const SectionLock lock(conf);
    if (!lock.held()) return -1;
    if (qvr::conf_record_count(qvr::section_bytes(conf)) < block.lastChannel)
        return platform::fail(platform::kErrorInvalidParameter);
    for (std::size_t j = 0; j < out.size(); ++j) {
        const std::uint32_t offset = static_cast<std::uint32_t>((block.firstChannel - 1u + j) * qvr::kChannelRecordSize);
        if (shm_ReadData(conf, out[j].bytes, qvr::kChannelRecordSize, offset) != 0) return -1;
    }
    return 0;
}

int fetch_server_configurations(const std::string& server, const BlockDescriptor& block,
                                std::span<qvr::ChannelRecord> out) {
    if (out.size() != block.channel_count()) return platform::fail(platform::kErrorInvalidParameter);
    const std::string code = module_code(block);
    std::vector<char> reply(kValueReplySize);
    for (std::size_t j = 0; j < out.size(); ++j) {
        char request[32];
        std::snprintf(request, sizeof request, "CV,%1.2s,%u", code.c_str(), unsigned{block.firstChannel} + unsigned(j));
        std::uint32_t length = static_cast<std::uint32_t>(reply.size());
        if (link_SendText(server.c_str(), request, reply.data(), &length) < 0) return -1;
        if (length < kConfigurationReplyOffset + qvr::kChannelRecordSize)
            return platform::fail(platform::kErrorInvalidData);
        std::copy_n(reply.begin() + kConfigurationReplyOffset, qvr::kChannelRecordSize, out[j].bytes);
    }
    return 0;
}

}  // namespace log_stores::run_file_store
