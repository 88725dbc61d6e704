#pragma once
// One scan of the device: every kind once through its scan handler (CI, DO, AO, DI, AI),
// then every channel judged (channel_judge.h) and the kind's status words and values
// published in its data module, with the scan times recorded.
//
// Output kinds are locked across the transfer, so no writer changes the requested values
// while they are sent; input kinds are locked only while results are judged and published.
// Notices are batched per kind.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "qvr/host/host_tables.h"
#include "tolva_sc/channel_judge.h"
#include "tolva_sc/device_kinds.h"

namespace tolva {

// The kind's scan handler: 0, -1 (errno set), or 2 when there is nothing to judge.
using KindScanHandler = std::function<int(int kind, std::span<const qvr::ChannelRecord> records,
                                          std::span<uint32_t> status, std::span<float> values)>;

// The notices of the scanner: to the alarm program and the loggers, stamped with the
// computer and user names read at start-up.
class AlarmNotices final : public NoticeSink {
  public:
    AlarmNotices() = default;
    AlarmNotices(std::string computer, std::string user) : computer_(std::move(computer)), user_(std::move(user)) {}
    void set_names(std::string computer, std::string user) {
        computer_ = std::move(computer);
        user_ = std::move(user);
    }
    void post_alarm(int index, uint32_t status, bool drive_common, int priority, int delay,
                    const float* value) override;
    void post_event(int index, uint32_t status, const float* value) override;
    void post_warning(int index, uint32_t status, int priority, const float* value) override;
    void post_warning_event(int index, uint32_t status, const float* value) override;
    void trigger_up(int index) override;
    void trigger_down(int index) override;
    void trigger_level(int index) override;

    // The notices refused since the last call (no batch could begin, or delivery failed),
    // so the scanner can say that they were lost.
    struct Refused {
        int count = 0;
        int error = 0;  // of the last one
    };
    Refused take_refused();

  private:
    void count(int result);

    std::string computer_;
    std::string user_;
    Refused refused_;
};

struct ScanHooks {
    std::function<bool()> running;         // the run flag; empty: always running
    std::function<void()> begin_scan;      // before the first kind of every scan
    std::function<void()> rotate_texts;    // the station texts, after every scan
    DeviceRecord* device = nullptr;        // LastScanMs goes here
    std::function<int64_t()> clock_ms;     // monotonic; empty: the platform's
};

class ScanEngine {
  public:
    ScanEngine(DeviceKinds& kinds, KindScanHandler handler, NoticeSink& notices, ScanHooks hooks = {});

    // 0, or -1 when a scan handler failed (errno kept).
    int scan(bool initial);
    // Command 304: new references of AI and CI from the values now published; when any
    // changed, the kind's references are written to its saved-values files.
    int recompute_references(std::string_view config_name);

  private:
    void judge_kind(KindModules& k, bool initial);
    int64_t now_ms() const;

    DeviceKinds& kinds_;
    KindScanHandler handler_;
    NoticeSink& notices_;
    ScanHooks hooks_;
};

}  // namespace tolva
