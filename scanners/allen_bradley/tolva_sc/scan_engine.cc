#include "tolva_sc/scan_engine.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/monotonic_clock.h"
#include "qvr/host/alarm.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/util/num.h"
#include "qvr/ipc/shm.h"
#include "tolva_sc/saved_values.h"

namespace tolva {

void AlarmNotices::post_alarm(int index, uint32_t status, bool drive_common, int priority, int delay,
                              const float* value) {
    count(alarm_PostAlarmAs(index, status, drive_common ? 1 : 0, priority, delay, computer_.c_str(),
                            user_.c_str(), value));
}
void AlarmNotices::post_event(int index, uint32_t status, const float* value) {
    count(alarm_PostEventAs(index, status, computer_.c_str(), user_.c_str(), value));
}
void AlarmNotices::post_warning(int index, uint32_t status, int priority, const float* value) {
    count(alarm_PostWarningAs(index, status, priority, computer_.c_str(), user_.c_str(), value));
}
void AlarmNotices::post_warning_event(int index, uint32_t status, const float* value) {
    count(alarm_PostWarningEventAs(index, status, computer_.c_str(), user_.c_str(), value));
}
void AlarmNotices::trigger_up(int index) {
    count(alarm_LoggerTriggerUp(index));
}
void AlarmNotices::trigger_down(int index) {
    count(alarm_LoggerTriggerDown(index));
}
void AlarmNotices::trigger_level(int index) {
    count(alarm_LoggerTriggerLevel(index));
}

void AlarmNotices::count(int result) {
    if (result == 0) return;
    ++refused_.count;
    refused_.error = errno;
}

AlarmNotices::Refused AlarmNotices::take_refused() {
    return std::exchange(refused_, Refused{});
}

namespace {

// The kinds in scan order: outputs first, so what the host asked for goes out before the
// inputs are read.
constexpr int kScanOrder[] = {kind::kCI, kind::kDO, kind::kAO, kind::kDI, kind::kAI};

void store_scan_time(void* data, int32_t ms) {
    const auto bytes = qvr::section_bytes(data);
    if (bytes.size() >= qvr::kScanTimeOffset + 4) qvr::store_u32(bytes, qvr::kScanTimeOffset, static_cast<uint32_t>(ms));
}

}  // namespace

ScanEngine::ScanEngine(DeviceKinds& kinds, KindScanHandler handler, NoticeSink& notices, ScanHooks hooks)
    : kinds_(kinds), handler_(std::move(handler)), notices_(notices), hooks_(std::move(hooks)) {}

int64_t ScanEngine::now_ms() const {
    return hooks_.clock_ms ? hooks_.clock_ms() : platform::monotonic_ms();
}

void ScanEngine::judge_kind(KindModules& k, bool initial) {
    const size_t count = std::min<size_t>({k.count, k.records.size(), k.shared_status.size(), k.status.size()});
    std::span<uint32_t> working = k.working_status();
    std::span<uint32_t> published = k.published_status();
    if (k.analog()) {
        std::span<float> values = k.working_values();
        std::span<float> shown = k.published_values();
        const size_t n = std::min({count, values.size(), shown.size(), k.last_significant.size()});
        for (size_t i = 0; i < n; ++i) {
            AnalogJudge how;
            how.kind = k.kind;
            how.initial = initial;
            how.reference = i < k.reference.size() ? k.reference[i] : 0.0f;
            how.published = shown[i];
            if (judge_analog(static_cast<int>(i), k.records[i], how, {working[i], published[i]},
                             {values[i], k.last_significant[i]}, notices_))
                k.changed_since_save = true;
        }
        for (size_t i = 0; i < n; ++i) {
            published[i] = working[i];
            shown[i] = values[i];
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            if (judge_digital(static_cast<int>(i), k.records[i], initial, k.output(),
                              {working[i], published[i]}, notices_))
                k.changed_since_save = true;
        }
        for (size_t i = 0; i < count; ++i) published[i] = working[i];
    }
}

int ScanEngine::scan(bool initial) {
    int64_t total = 0;
    int last_result = 0;
    bool any = false;
    if (hooks_.begin_scan) hooks_.begin_scan();
    for (const int kind : kScanOrder) {
        if (hooks_.running && !hooks_.running()) break;
        KindModules& k = kinds_[static_cast<size_t>(kind)];
        if (!k.open()) {
            if (k.unserved) answer_unserved(*k.unserved);
            continue;
        }
        const int64_t start = now_ms();
        if (k.output() && shm_Lock(k.data) != 0) return -1;
        const int result = handler_(kind, k.records.first(std::min<size_t>(k.count, k.records.size())),
                                    k.working_status(), k.working_values());
        any = true;
        last_result = result;
        if (result == -1 || result == kNothingToJudge) {
            const int error = errno;
            if (k.output()) shm_Unlock(k.data);
            errno = error;
            if (result == -1) return -1;
            continue;
        }
        if (!k.output() && shm_Lock(k.data) != 0) return -1;
        const bool batch = alarm_BeginBatch(qvr::section_bytes(k.data).data() + qvr::kSectionDataOffset) == 0;
        judge_kind(k, initial);
        qvr::store_module_error(qvr::section_bytes(k.data), 0);
        if (batch) alarm_EndBatch();
        shm_SignalWaiters(k.data, 0);
        shm_Unlock(k.data);
        const int64_t elapsed = now_ms() - start;
        store_scan_time(k.data, static_cast<int32_t>(elapsed));
        total += elapsed;
    }
    if (any && last_result != kNothingToJudge && hooks_.device != nullptr)
        hooks_.device->LastScanMs = static_cast<int32_t>(total);
    if (hooks_.rotate_texts) hooks_.rotate_texts();
    return 0;
}

int ScanEngine::recompute_references(std::string_view config_name) {
    for (const int kind : {kind::kAI, kind::kCI}) {
        KindModules& k = kinds_[static_cast<size_t>(kind)];
        if (!k.open()) continue;
        const size_t n = std::min({static_cast<size_t>(k.count), k.records.size(), k.status.size(), k.values.size(),
                                   k.reference.size()});
        bool changed = false;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t w = k.status[i];
            float next = 0.0f;
            if ((w & status_bit::kFailed) == 0 && (w & status_bit::kAnalog) != 0 &&
                k.records[i].head.Flags.test(qvr::AnalogFlag::ReferenceEnable))
                next = static_cast<float>(num_AddChecked(k.reference[i], k.values[i]));
            if (std::memcmp(&next, &k.reference[i], sizeof next) != 0) {
                k.reference[i] = next;
                changed = true;
            }
        }
        if (changed) saved_values_write(config_name, kind, std::span<const float>(k.reference.data(), n), k.records.first(n));
    }
    return 0;
}

}  // namespace tolva
