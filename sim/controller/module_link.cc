#include "controller/module_link.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include "platform/monotonic_clock.h"

namespace sim_controller {
namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

int64_t ms_to_ns(std::chrono::milliseconds ms) {
    return static_cast<int64_t>(ms.count()) * 1'000'000;
}

std::string flipped_text(const char* where, uint8_t was, uint8_t now) {
    char text[80];
    std::snprintf(text, sizeof text, "noise on a byte %s: %02X became %02X", where, was, now);
    return text;
}

}  // namespace

uint8_t LineNoise::pass(uint8_t byte, std::mt19937_64& rng, bool& hit) {
    hit = false;
    if (rate_ <= 0) return byte;
    if (clean_left_ > 0) {
        --clean_left_;
        return byte;
    }
    if (std::uniform_real_distribution<double>(0.0, 1.0)(rng) >= rate_) return byte;
    hit = true;
    clean_left_ = gap_;
    return static_cast<uint8_t>(byte ^ std::uniform_int_distribution<int>(1, 255)(rng));
}

ModuleLink::ModuleLink(const ModuleOptions& options, InterfaceModule::Shared& shared)
    : options_(options),
      shared_(shared),
      char_ns_(options.paced ? 10'000'000'000LL / (options.baud != 0 ? options.baud : 19200) : 0) {}

void ModuleLink::refresh_random() {
    std::lock_guard lock(shared_.mutex);
    if (shared_.random_version == random_version_) return;
    random_version_ = shared_.random_version;
    random_ = shared_.random.value_or(RandomFaults{});
    rng_.seed(random_.seed);
    noise_in_.configure(random_.noise_in, random_.noise_gap);
    noise_out_.configure(random_.noise_out, random_.noise_gap);
}

bool ModuleLink::chance(double p) {
    return p > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p;
}

void ModuleLink::log(Direction direction, EntryKind kind, std::vector<uint8_t> body, uint32_t count,
                     std::string note) {
    LogEntry entry{platform::monotonic_ns(), direction, kind, count, std::move(body), std::move(note)};
    std::function<void(const LogEntry&)> observer;
    {
        std::lock_guard lock(shared_.mutex);
        if (shared_.log_limit != 0 && shared_.log.size() >= shared_.log_limit) {
            const size_t drop = std::max<size_t>(shared_.log_limit / 8, 1);
            shared_.log.erase(shared_.log.begin(), shared_.log.begin() + static_cast<ptrdiff_t>(std::min(
                                                                             drop, shared_.log.size())));
        }
        shared_.log.push_back(entry);
        // Whoever sees the line closed also sees the module stopped.
        if (kind == EntryKind::closed) shared_.running = false;
        observer = shared_.observer;
    }
    shared_.changed.notify_all();
    if (observer) observer(entry);
}

void ModuleLink::line_closed(std::string_view why) {
    log(Direction::event, EntryKind::closed, {}, 0, std::string(why));
}

void ModuleLink::bytes_read(std::span<const uint8_t> bytes, int64_t now) {
    refresh_random();
    for (uint8_t byte : bytes) {
        bool hit = false;
        const uint8_t seen = noise_in_.pass(byte, rng_, hit);
        if (hit) log(Direction::event, EntryKind::fault, {}, 0, flipped_text("from the master", byte, seen));
        int64_t at = now;
        if (char_ns_ != 0) {
            in_free_ = std::max(now, in_free_) + char_ns_;
            at = in_free_;
        }
        arriving_.emplace_back(at, seen);
    }
    std::lock_guard lock(shared_.mutex);
    shared_.stats.bytes_in += bytes.size();
}

void ModuleLink::tick(int64_t now) {
    refresh_random();
    while (!close_ && !arriving_.empty() && arriving_.front().first <= now) {
        // Events take the time the byte was through the line, so a late wake-up does not
        // push the answers later on a paced line.
        const auto [at, byte] = arriving_.front();
        arriving_.pop_front();
        if (auto event = parser_.feed(byte)) handle(*event, at);
    }
    if (close_) return;
    if (delayed_ack_at_ >= 0 && now >= delayed_ack_at_) {
        delayed_ack_at_ = -1;
        if (respond(kAck, now)) acked_ = requests_;
    }
    run_jobs(now);
}

void ModuleLink::handle(const ParsedEvent& event, int64_t now) {
    if (event.skipped != 0) log(Direction::in, EntryKind::garbage, {}, static_cast<uint32_t>(event.skipped));
    switch (event.kind) {
        case ParsedEvent::Kind::frame:
        case ParsedEvent::Kind::bad_bcc:
        case ParsedEvent::Kind::bad_pair:
        case ParsedEvent::Kind::overflow: {
            ++frames_;
            {
                std::lock_guard lock(shared_.mutex);
                ++shared_.stats.frames_in;
            }
            if (event.kind == ParsedEvent::Kind::frame) {
                on_frame(event.body, now);
            } else {
                on_bad_frame(event, now);
            }
            return;
        }
        case ParsedEvent::Kind::ack:
            // Counted before it is logged, so a reader who sees the entry sees the count.
            if (!jobs_.empty() && jobs_.front().state == JobState::awaiting) {
                std::lock_guard lock(shared_.mutex);
                ++shared_.stats.replies;
            }
            log(Direction::in, EntryKind::ack);
            on_answer(true, now);
            return;
        case ParsedEvent::Kind::nak:
            log(Direction::in, EntryKind::nak);
            on_answer(false, now);
            return;
        case ParsedEvent::Kind::enq:
            log(Direction::in, EntryKind::enq);
            on_enquiry(now);
            return;
    }
}

ModuleLink::Faults ModuleLink::take_faults(uint64_t frame, bool good) {
    Faults f;
    auto add = [&](const FaultAction& a) {
        switch (a.kind) {
            case FaultKind::drop_response:
                f.drop += a.count;
                break;
            case FaultKind::nak:
                f.naks += a.count;
                break;
            case FaultKind::corrupt_byte:
                f.corrupt_byte += a.count;
                f.position = a.position;
                break;
            case FaultKind::corrupt_bcc:
                f.corrupt_bcc += a.count;
                break;
            case FaultKind::delay_ack:
                f.delay_ack = true;
                f.ack_delay = a.delay;
                break;
            case FaultKind::delay_reply:
                f.reply_delay = a.delay;
                break;
            case FaultKind::duplicate_reply:
                f.duplicate = true;
                break;
            case FaultKind::inject_enq:
                f.enq = true;
                break;
            case FaultKind::inject_garbage:
                f.garbage.insert(f.garbage.end(), a.bytes.begin(), a.bytes.end());
                break;
            case FaultKind::close_line:
                f.close = true;
                break;
        }
        log(Direction::event, EntryKind::fault, {}, 0, std::string(fault_name(a.kind)));
    };
    std::vector<FaultAction> scripted;
    {
        std::lock_guard lock(shared_.mutex);
        auto [first, last] = shared_.faults.equal_range(frame);
        for (auto it = first; it != last; ++it) scripted.push_back(it->second);
        shared_.faults.erase(first, last);
    }
    for (const auto& a : scripted) add(a);
    if (!good) return f;
    if (chance(random_.drop_response)) add({FaultKind::drop_response});
    if (chance(random_.nak)) add({FaultKind::nak});
    if (chance(random_.delay_ack)) add({FaultKind::delay_ack, 1, random_.delay});
    if (chance(random_.delay_reply)) add({FaultKind::delay_reply, 1, random_.delay});
    if (chance(random_.duplicate_reply)) add({FaultKind::duplicate_reply});
    if (chance(random_.inject_enq)) add({FaultKind::inject_enq});
    if (chance(random_.inject_garbage)) {
        // Stray bytes without a DLE: noise between frames, not a frame of its own.
        FaultAction a{FaultKind::inject_garbage};
        const int n = std::uniform_int_distribution<int>(1, 8)(rng_);
        for (int i = 0; i < n; ++i) {
            uint8_t b = static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 255)(rng_));
            a.bytes.push_back(b == kDle ? 0x00 : b);
        }
        add(a);
    }
    return f;
}

void ModuleLink::on_bad_frame(const ParsedEvent& event, int64_t now) {
    const Faults f = take_faults(frames_, false);
    if (f.close) {
        close_ = true;
        return;
    }
    mute_ += f.drop;
    nak_left_ += f.naks;
    EntryKind kind = EntryKind::bad_bcc;
    std::string note;
    char text[48];
    if (event.kind == ParsedEvent::Kind::bad_bcc) {
        std::snprintf(text, sizeof text, "check byte %02X, expected %02X", event.byte,
                      block_check(event.body));
        note = text;
    } else if (event.kind == ParsedEvent::Kind::bad_pair) {
        kind = EntryKind::bad_pair;
        std::snprintf(text, sizeof text, "DLE %02X", event.byte);
        note = text;
    } else {
        kind = EntryKind::overflow;
    }
    log(Direction::in, kind, event.body, 0, std::move(note));
    last_response_ = kNak;
    respond(kNak, now);
}

void ModuleLink::on_frame(const std::vector<uint8_t>& body, int64_t now) {
    const Faults f = take_faults(frames_, true);
    if (f.close) {
        close_ = true;
        return;
    }
    mute_ += f.drop;
    nak_left_ += f.naks;
    if (body.size() < 6) {
        log(Direction::in, EntryKind::short_frame, body);
        last_response_ = kNak;
        respond(kNak, now);
        return;
    }
    if (nak_left_ > 0) {
        --nak_left_;
        log(Direction::in, EntryKind::frame, body, 0, "refused by the fault script");
        last_response_ = kNak;
        respond(kNak, now);
        return;
    }
    const std::array<uint8_t, 6> header{body[0], body[1], body[2], body[3], body[4], body[5]};
    if (previous_ && (*previous_)[0] == header[0] && (*previous_)[1] == header[1] &&
        (*previous_)[2] == header[2] && (*previous_)[4] == header[4] && (*previous_)[5] == header[5]) {
        log(Direction::in, EntryKind::duplicate, body);
        last_response_ = kAck;
        if (respond(kAck, now)) acked_ = requests_;
        return;
    }
    log(Direction::in, EntryKind::frame, body);
    previous_ = header;
    ++requests_;
    last_response_ = kAck;
    if (f.delay_ack) {
        delayed_ack_at_ = now + ms_to_ns(f.ack_delay);
    } else if (respond(kAck, now)) {
        acked_ = requests_;
    }

    std::shared_ptr<const StationHandler> handler;
    {
        std::lock_guard lock(shared_.mutex);
        ++shared_.stats.requests;
        auto it = shared_.stations.find(body[0]);
        if (it != shared_.stations.end()) handler = it->second;
    }
    if (!handler) {
        log(Direction::event, EntryKind::no_station, {}, body[0], "no station " + std::to_string(body[0]));
        return;
    }
    std::optional<std::vector<uint8_t>> reply = (*handler)(body);
    if (!reply) return;

    Job job;
    job.body = *reply;
    job.request = requests_;
    job.ready_at = now + ms_to_ns(f.reply_delay);
    job.corrupt_bcc = f.corrupt_bcc;
    job.corrupt_byte = f.corrupt_byte;
    job.corrupt_position = f.position;
    if (f.enq) job.prelude = {kDle, kEnq};
    job.prelude.insert(job.prelude.end(), f.garbage.begin(), f.garbage.end());
    if (f.duplicate && !last_reply_.empty()) {
        Job again;
        again.body = last_reply_;
        again.request = requests_;
        again.ready_at = job.ready_at;
        again.duplicate = true;
        again.prelude = std::move(job.prelude);
        job.prelude.clear();
        jobs_.push_back(std::move(again));
    }
    last_reply_ = *reply;
    jobs_.push_back(std::move(job));
    run_jobs(now);
}

void ModuleLink::on_enquiry(int64_t now) {
    // The answer goes now; a delayed ACK would only repeat it.
    delayed_ack_at_ = -1;
    if (respond(last_response_, now) && last_response_ == kAck) acked_ = requests_;
}

void ModuleLink::on_answer(bool ack, int64_t now) {
    if (jobs_.empty() || jobs_.front().state != JobState::awaiting) {
        log(Direction::event, EntryKind::unexpected, {}, 0,
            ack ? "ACK with no reply waiting" : "NAK with no reply waiting");
        return;
    }
    Job& job = jobs_.front();
    if (ack) {
        jobs_.pop_front();
        run_jobs(now);
        return;
    }
    if (job.transmissions < options_.max_transmissions) {
        transmit(job, now);
        return;
    }
    log(Direction::event, EntryKind::gave_up, job.body, 0,
        "refused " + std::to_string(job.transmissions) + " times");
    jobs_.pop_front();
    run_jobs(now);
}

void ModuleLink::run_jobs(int64_t now) {
    while (!jobs_.empty()) {
        Job& job = jobs_.front();
        if (job.state == JobState::waiting) {
            // The reply follows the request's ACK on the line, never the other way round.
            if (acked_ < job.request || now < job.ready_at) return;
            if (!job.prelude.empty()) {
                OutItem raw;
                raw.role = ItemRole::raw;
                const bool enq = job.prelude.size() >= 2 && job.prelude[0] == kDle && job.prelude[1] == kEnq;
                raw.kind = enq ? EntryKind::enq : EntryKind::garbage;
                raw.count = static_cast<uint32_t>(job.prelude.size());
                raw.bytes = std::move(job.prelude);
                job.prelude.clear();
                queue(std::move(raw), now);
            }
            transmit(job, now);
            return;
        }
        if (job.state != JobState::awaiting || now < job.deadline) return;
        if (job.enquiries < options_.max_enquiries) {
            ++job.enquiries;
            job.deadline = kNever;  // set when the enquiry is through
            OutItem enq;
            enq.bytes = {kDle, kEnq};
            enq.role = ItemRole::enquiry;
            enq.kind = EntryKind::enq;
            enq.count = job.enquiries;
            queue(std::move(enq), now);
            return;
        }
        log(Direction::event, EntryKind::gave_up, job.body, 0,
            "no answer after " + std::to_string(job.enquiries) + " enquiries");
        jobs_.pop_front();
    }
}

void ModuleLink::transmit(Job& job, int64_t now) {
    ++job.transmissions;
    OutItem item;
    item.bytes = frame_bytes(job.body);
    item.role = ItemRole::frame;
    item.kind = EntryKind::frame;
    item.body = job.body;
    item.count = job.transmissions;
    if (job.duplicate) item.note = "sent again by the fault script";
    if (job.corrupt_bcc > 0) {
        --job.corrupt_bcc;
        item.bytes.back() = static_cast<uint8_t>(item.bytes.back() ^ 0xFF);
        item.note = "block check corrupted";
    }
    if (job.corrupt_byte > 0) {
        --job.corrupt_byte;
        const size_t pos = std::min(job.corrupt_position, item.bytes.size() - 1);
        item.bytes[pos] = static_cast<uint8_t>(item.bytes[pos] ^ 0x01);
        item.note = "byte " + std::to_string(pos) + " corrupted";
    }
    job.state = JobState::sending;
    queue(std::move(item), now);
}

bool ModuleLink::respond(uint8_t code, int64_t now) {
    if (mute_ > 0) {
        --mute_;
        log(Direction::event, EntryKind::dropped, {}, code,
            code == kAck ? "ACK kept off the line" : "NAK kept off the line");
        return false;
    }
    OutItem item;
    item.bytes = {kDle, code};
    item.role = ItemRole::response;
    item.kind = code == kAck ? EntryKind::ack : EntryKind::nak;
    queue(std::move(item), now);
    return true;
}

void ModuleLink::queue(OutItem item, int64_t now) {
    item.offered = now;
    for (uint8_t& b : item.bytes) {
        bool hit = false;
        const uint8_t was = b;
        b = noise_out_.pass(b, rng_, hit);
        if (hit) log(Direction::event, EntryKind::fault, {}, 0, flipped_text("to the master", was, b));
    }
    if (item.role == ItemRole::response || item.role == ItemRole::enquiry) {
        // Control pairs never go inside a frame, but ahead of frames still waiting.
        size_t at = (!out_.empty() && out_.front().pos > 0) ? 1 : 0;
        while (at < out_.size() &&
               (out_[at].role == ItemRole::response || out_[at].role == ItemRole::enquiry))
            ++at;
        out_.insert(out_.begin() + static_cast<ptrdiff_t>(at), std::move(item));
        return;
    }
    out_.push_back(std::move(item));
}

std::span<const uint8_t> ModuleLink::writable(int64_t now) {
    if (out_.empty()) return {};
    const OutItem& front = out_.front();
    const std::span<const uint8_t> rest = std::span<const uint8_t>(front.bytes).subspan(front.pos);
    if (char_ns_ == 0) return rest;
    if (now < std::max(front.offered, out_free_) + char_ns_) return {};
    return rest.first(1);
}

void ModuleLink::wrote(size_t count, int64_t now) {
    if (out_.empty() || count == 0) return;
    OutItem& front = out_.front();
    count = std::min(count, front.bytes.size() - front.pos);
    if (char_ns_ != 0)
        out_free_ = std::max(front.offered, out_free_) + char_ns_ * static_cast<int64_t>(count);
    front.pos += count;
    {
        std::lock_guard lock(shared_.mutex);
        shared_.stats.bytes_out += count;
    }
    if (front.pos < front.bytes.size()) return;
    OutItem done = std::move(front);
    out_.pop_front();
    completed(done, char_ns_ != 0 ? out_free_ : now);
}

void ModuleLink::completed(const OutItem& item, int64_t now) {
    switch (item.role) {
        case ItemRole::response:
            log(Direction::out, item.kind);
            return;
        case ItemRole::raw:
            log(Direction::out, item.kind, {}, item.count, "injected");
            return;
        case ItemRole::enquiry:
            log(Direction::out, EntryKind::enq, {}, item.count);
            if (!jobs_.empty() && jobs_.front().state == JobState::awaiting) {
                jobs_.front().deadline = now + ms_to_ns(options_.answer_timeout);
            }
            return;
        case ItemRole::frame:
            log(Direction::out, EntryKind::frame, item.body, item.count, item.note);
            if (!jobs_.empty() && jobs_.front().state == JobState::sending) {
                jobs_.front().state = JobState::awaiting;
                jobs_.front().deadline = now + ms_to_ns(options_.answer_timeout);
            }
            return;
    }
}

int64_t ModuleLink::next_due() const {
    int64_t next = -1;
    auto consider = [&](int64_t t) {
        if (t != kNever && (next < 0 || t < next)) next = t;
    };
    if (!arriving_.empty()) consider(arriving_.front().first);
    if (delayed_ack_at_ >= 0) consider(delayed_ack_at_);
    if (!jobs_.empty()) {
        const Job& job = jobs_.front();
        if (job.state == JobState::waiting && acked_ >= job.request) consider(job.ready_at);
        if (job.state == JobState::awaiting) consider(job.deadline);
    }
    if (char_ns_ != 0 && !out_.empty()) consider(std::max(out_.front().offered, out_free_) + char_ns_);
    return next;
}

}  // namespace sim_controller
