// Judging channels whose records, status words and values come from the input, as they
// come from shared memory and configuration files: no undefined behaviour, a value that is
// kept as good is a number, and an alarm of a failed channel carries no value.
//
// Input: a kind byte (0-4) and an initial-scan byte, then per channel 216 record bytes and
// the working word, the published word, the value, the last significant value, the
// reference and the published value (4 bytes each, little-endian).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tolva_sc/channel_judge.h"

namespace {

constexpr size_t kChannelBytes = 216 + 6 * 4;

struct Checks final : tolva::NoticeSink {
    void post_alarm(int, uint32_t status, bool, int, int, const float* value) override {
        if ((status & tolva::status_bit::kFailed) != 0 && value != nullptr) std::abort();
    }
    void post_event(int, uint32_t, const float*) override {}
    void post_warning(int, uint32_t status, int, const float* value) override {
        if ((status & tolva::status_bit::kFailed) != 0 && value != nullptr) std::abort();
    }
    void post_warning_event(int, uint32_t, const float*) override {}
    void trigger_up(int) override {}
    void trigger_down(int) override {}
    void trigger_level(int) override {}
};

template <typename T>
T take(const uint8_t*& p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int kind = data[0] % 5;
    const bool initial = (data[1] & 1) != 0;
    Checks checks;
    for (size_t at = 2; at + kChannelBytes <= size; at += kChannelBytes) {
        const uint8_t* p = data + at;
        qvr::ChannelRecord record;
        std::memcpy(record.bytes, p, sizeof record.bytes);
        p += sizeof record.bytes;
        uint32_t w = take<uint32_t>(p);
        uint32_t m = take<uint32_t>(p);
        float v = take<float>(p);
        float last = take<float>(p);
        tolva::AnalogJudge how;
        how.kind = kind;
        how.initial = initial;
        how.reference = take<float>(p);
        how.published = take<float>(p);
        if (kind == 1 || kind == 3) {
            tolva::judge_digital(0, record, initial, kind == 3, {w, m}, checks);
        } else {
            tolva::judge_analog(0, record, how, {w, m}, {v, last}, checks);
            const bool judged = initial || (w & tolva::status_bit::kFailed) != 0 || v != how.published;
            if (judged && (w & tolva::status_bit::kFailed) == 0 && !std::isfinite(v)) std::abort();
        }
    }
    return 0;
}
