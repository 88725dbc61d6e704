#pragma once
// The module's link state, owned by its run loop alone: what arrived and when it is through
// the line, the responses, the replies with their retries, and what waits to be written.
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "controller/frame_codec.h"
#include "controller/interface_module.h"

namespace sim_controller {

// One error now and then: a byte flipped at `rate`, then `gap` clean bytes.
class LineNoise {
  public:
    void configure(double rate, size_t gap) {
        rate_ = rate;
        gap_ = gap;
    }
    // The byte as it comes off the line; true in `hit` when it was flipped.
    uint8_t pass(uint8_t byte, std::mt19937_64& rng, bool& hit);

  private:
    double rate_ = 0;
    size_t gap_ = 0;
    size_t clean_left_ = 0;
};

class ModuleLink {
  public:
    ModuleLink(const ModuleOptions& options, InterfaceModule::Shared& shared);

    // Bytes read from the line at `now_ns`.
    void bytes_read(std::span<const uint8_t> bytes, int64_t now_ns);
    // Handles what is due: bytes through the line, delayed answers, replies, time-outs.
    void tick(int64_t now_ns);
    // The bytes that may be written now (empty when nothing is due), and what was written.
    std::span<const uint8_t> writable(int64_t now_ns);
    void wrote(size_t count, int64_t now_ns);
    bool output_pending() const { return !out_.empty(); }
    // When something falls due next (monotonic ns), -1 when nothing waits for time.
    int64_t next_due() const;
    bool close_requested() const { return close_; }
    void line_closed(std::string_view why);

  private:
    enum class JobState : uint8_t { waiting, sending, awaiting };
    struct Job {
        std::vector<uint8_t> body;
        uint64_t request = 0;  // number of the request it answers
        int64_t ready_at = 0;  // not before this
        unsigned transmissions = 0;
        unsigned enquiries = 0;
        unsigned corrupt_bcc = 0;
        unsigned corrupt_byte = 0;
        size_t corrupt_position = 0;
        std::vector<uint8_t> prelude;  // injected ENQ or stray bytes, before the first transmission
        JobState state = JobState::waiting;
        int64_t deadline = 0;  // for the master's answer
        bool duplicate = false;
    };
    enum class ItemRole : uint8_t { response, enquiry, frame, raw };
    struct OutItem {
        std::vector<uint8_t> bytes;
        size_t pos = 0;
        int64_t offered = 0;
        ItemRole role = ItemRole::raw;
        EntryKind kind = EntryKind::frame;
        std::vector<uint8_t> body;  // of a frame, for the log
        uint32_t count = 0;
        std::string note;
    };
    struct Faults {
        bool close = false, nak = false, delay_ack = false, duplicate = false, enq = false;
        unsigned drop = 0, naks = 0, corrupt_bcc = 0, corrupt_byte = 0;
        size_t position = 0;
        std::chrono::milliseconds ack_delay{0}, reply_delay{0};
        std::vector<uint8_t> garbage;
    };

    void handle(const ParsedEvent& event, int64_t now);
    void on_frame(const std::vector<uint8_t>& body, int64_t now);
    void on_bad_frame(const ParsedEvent& event, int64_t now);
    void on_answer(bool ack, int64_t now);
    void on_enquiry(int64_t now);
    Faults take_faults(uint64_t frame, bool good);
    bool chance(double p);
    void refresh_random();

    bool respond(uint8_t code, int64_t now);
    void transmit(Job& job, int64_t now);
    void queue(OutItem item, int64_t now);
    void completed(const OutItem& item, int64_t now);
    void run_jobs(int64_t now);

    void log(Direction direction, EntryKind kind, std::vector<uint8_t> body = {}, uint32_t count = 0,
             std::string note = {});

    const ModuleOptions options_;
    InterfaceModule::Shared& shared_;
    const int64_t char_ns_;  // line time of one byte, 0 unpaced

    std::deque<std::pair<int64_t, uint8_t>> arriving_;  // (through the line at, byte)
    int64_t in_free_ = 0;
    StreamParser parser_;
    uint64_t frames_ = 0;

    std::mt19937_64 rng_{1};
    RandomFaults random_;
    uint64_t random_version_ = 0;
    LineNoise noise_in_, noise_out_;

    uint8_t last_response_ = kNak;
    unsigned mute_ = 0;
    unsigned nak_left_ = 0;
    std::optional<std::array<uint8_t, 6>> previous_;
    uint64_t requests_ = 0;
    uint64_t acked_ = 0;  // number of the last request whose ACK is on the line
    int64_t delayed_ack_at_ = -1;

    std::deque<Job> jobs_;
    std::vector<uint8_t> last_reply_;

    std::deque<OutItem> out_;
    int64_t out_free_ = 0;
    bool close_ = false;
};

}  // namespace sim_controller
