#include "tolva_sc/df1_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/last_error.h"
#include "tolva_sc/df1_frame.h"
#include "tolva_sc/link_codes.h"
#include "tolva_sc/link_trace_text.h"

namespace tolva {
namespace {

using df1::kAck;
using df1::kDle;
using df1::kEnq;
using df1::kEtx;
using df1::kNak;
using df1::kStx;

const char* control_name(uint8_t code) {
    switch (code) {
        case kAck:
            return "ACK";
        case kNak:
            return "NAK";
        case kEnq:
            return "ENQ";
        default:
            return "?";
    }
}

int errno_or_eio() {
    return errno != 0 ? errno : EIO;
}

}  // namespace

int Df1Link::setup(CommSettings& comm, int32_t device_number) {
    close();
    if (!apply_port_defaults(comm, device_number)) return platform::fail(EINVAL);
    platform::SerialPort serial;
    if (serial.open(comm_port(comm), comm.BaudRate) != 0) return -1;
    apply_link_defaults(comm);
    const std::string device = serial.device_path();
    attach(std::make_unique<SerialLinkPort>(std::move(serial)));
    timings_ = link_timings(comm);
    if (tracing()) {
        emit("port " + std::string(comm_port(comm)) + " (" + device + ") at " +
             std::to_string(comm.BaudRate) + " baud: ACK time-out " +
             std::to_string(timings_.ack_timeout_ms) + " ms, reply time-out " +
             std::to_string(timings_.reply_timeout_ms) + " ms, " + std::to_string(timings_.max_retries) +
             " transmissions, " + std::to_string(timings_.max_enquires) + " enquiries");
    }
    return 0;
}

void Df1Link::attach(std::unique_ptr<LinkPort> port) {
    port_ = std::move(port);
    port_failed_ = false;
    // What was read from another handle is not this line's.
    in_pos_ = in_len_ = 0;
    pending_.clear();
}

void Df1Link::close() {
    attach(nullptr);
}

int Df1Link::fail(int code) {
    platform::set_last_error(code);
    return 0;
}

Df1Link::Got Df1Link::next_byte(int64_t deadline_us, uint8_t& byte) {
    if (!buffered()) {
        // At least one call, then the budget is checked after each call.
        while (true) {
            const ssize_t n = port_->read_some(in_);
            if (n < 0) {
                failure_ = errno_or_eio();
                port_failed_ = true;
                if (tracing()) emit("read failed: error " + std::to_string(failure_));
                return Got::failed;
            }
            if (n > 0) {
                in_pos_ = 0;
                in_len_ = std::min(static_cast<size_t>(n), in_.size());
                counters_.received_bytes += in_len_;
                break;
            }
            if (port_->now_us() >= deadline_us) return Got::timeout;
        }
    }
    byte = in_[in_pos_++];
    return Got::byte;
}

bool Df1Link::timed_write(std::span<const uint8_t> bytes, int64_t budget_ms) {
    const int64_t deadline = deadline_after(port_->now_us(), std::max<int64_t>(budget_ms, 0));
    size_t done = 0;
    do {
        const ssize_t n = port_->write_some(bytes.subspan(done));
        if (n < 0) {
            failure_ = errno_or_eio();
            port_failed_ = true;
            ++counters_.write_failures;
            if (tracing()) emit("write failed: error " + std::to_string(failure_));
            return false;
        }
        const size_t written = std::min(static_cast<size_t>(n), bytes.size() - done);
        done += written;
        counters_.sent_bytes += written;
    } while (done < bytes.size() && port_->now_us() < deadline);
    if (done < bytes.size()) {
        failure_ = link_error::kTimeout;
        ++counters_.write_failures;
        if (tracing()) {
            emit("write stopped after " + std::to_string(done) + " of " + std::to_string(bytes.size()) +
                 " bytes: budget of " + std::to_string(budget_ms) + " ms spent");
        }
        return false;
    }
    return true;
}

bool Df1Link::write_control(uint8_t code) {
    const uint8_t pair[2] = {kDle, code};
    if (!timed_write(pair, timings_.control_write_ms)) return false;
    if (code == kNak) ++counters_.naks_sent;
    if (code == kEnq) ++counters_.enquiries_sent;
    return true;
}

Df1Link::Answer Df1Link::wait_answer(int64_t send_deadline_us) {
    int64_t deadline = deadline_after(port_->now_us(), timings_.ack_timeout_ms);
    uint8_t byte = 0;
    while (true) {
        Got got = next_byte(deadline, byte);
        if (got != Got::byte) return got == Got::timeout ? Answer::timeout : Answer::failed;
        if (byte == kDle) {
            got = next_byte(deadline, byte);
            if (got != Got::byte) return got == Got::timeout ? Answer::timeout : Answer::failed;
            if (byte == kAck) return Answer::ack;
            if (byte == kNak) return Answer::nak;
            if (byte == kStx) {
                // The line is full duplex: the peer may send a message (often a repeat of its
                // last reply) before it answers ours. Left unanswered, it would hold the peer
                // until its own enquiry.
                size_t n = 0;
                int error = 0;
                const Frame frame = take_frame(send_deadline_us, n, error);
                if (frame == Frame::failed) return Answer::failed;
                if (frame == Frame::timeout) return Answer::timeout;
                if (frame == Frame::accepted) keep_pending(n);
                // The answer to ours may follow the peer's frame: the wait starts again.
                const int64_t renewed = deadline_after(port_->now_us(), timings_.ack_timeout_ms);
                deadline = std::max(deadline, std::min(renewed, send_deadline_us));
                continue;
            }
        }
        if (out_of_time(deadline)) return Answer::timeout;
    }
}

void Df1Link::keep_pending(size_t length) {
    // A peer that keeps sending without waiting for its replies to be asked for: the oldest
    // go, they answer requests long given up.
    constexpr size_t kMaxPending = 8;
    if (pending_.size() == kMaxPending) {
        trace("RX message dropped: too many waiting");
        pending_.pop_front();
    }
    pending_.emplace_back(message_.begin(), message_.begin() + static_cast<ptrdiff_t>(length));
}

int Df1Link::send_message(std::span<const uint8_t> message) {
    if (!port_) return fail(EBADF);
    df1::encode_frame(message, frame_);
    const int64_t start = port_->now_us();
    // One budget for the whole send, so no count of retries or enquiries keeps it going.
    const int64_t send_deadline = deadline_after(start, timings_.message_write_ms);
    naks_sent_ = 0;
    const uint32_t transmissions = std::max<uint32_t>(timings_.max_retries, 1);
    uint32_t enquiries = 0;
    for (uint32_t transmission = 1; transmission <= transmissions; ++transmission) {
        const int64_t now = port_->now_us();
        // The budget ran out, not the peer's patience: a time-out, not a refusal.
        if (transmission > 1 && now >= send_deadline) {
            if (tracing()) {
                emit("write budget of " + std::to_string(timings_.message_write_ms) + " ms spent after " +
                     std::to_string(transmission - 1) + " transmissions: time-out");
            }
            return fail(link_error::kTimeout);
        }
        if (tracing()) {
            emit("TX " + describe_message(message) + " (transmission " + std::to_string(transmission) +
                 " of " + std::to_string(transmissions) + ")");
        }
        if (!timed_write(frame_, (send_deadline - now) / 1000)) return fail(failure_);
        ++counters_.sent_frames;
        while (true) {
            const Answer answer = wait_answer(send_deadline);
            if (answer == Answer::ack) {
                trace("RX ACK");
                return 1;
            }
            if (answer == Answer::failed) return fail(failure_);
            if (answer == Answer::nak) {
                ++counters_.naks_received;
                trace("RX NAK");
                break;
            }
            ++counters_.ack_timeouts;
            if (enquiries >= timings_.max_enquires || port_->now_us() >= send_deadline) {
                if (tracing()) {
                    emit("no answer after " + std::to_string(enquiries) + " enquiries: time-out after " +
                         std::to_string((port_->now_us() - start) / 1000) + " ms");
                }
                return fail(link_error::kTimeout);
            }
            ++enquiries;
            if (tracing()) {
                emit("ACK time-out, TX ENQ (enquiry " + std::to_string(enquiries) + " of " +
                     std::to_string(timings_.max_enquires) + ")");
            }
            if (!write_control(kEnq)) return fail(failure_);
        }
    }
    trace("message refused by the peer (NAK)");
    return fail(link_error::kNak);
}

Df1Link::Body Df1Link::read_body(std::span<uint8_t> buffer, size_t& length, int64_t deadline_us) {
    length = 0;
    uint8_t byte = 0;
    while (true) {
        Got got = next_byte(deadline_us, byte);
        if (got != Got::byte) return got == Got::timeout ? Body::timeout : Body::failed;
        if (byte == kDle) {
            got = next_byte(deadline_us, byte);
            if (got != Got::byte) return got == Got::timeout ? Body::timeout : Body::failed;
            if (byte == kEtx) return Body::ended;
            if (byte == kEnq) {
                if (tracing())
                    emit(std::string("RX ENQ inside a message, TX ") + control_name(last_response_));
                if (!write_control(last_response_)) return Body::failed;
                if (out_of_time(deadline_us)) return Body::timeout;
                continue;
            }
            if (byte != kDle) {
                if (tracing()) {
                    char text[64];
                    std::snprintf(text, sizeof text, "RX DLE %02X after %zu message bytes", byte, length);
                    emit(text);
                }
                return Body::bad_pair;
            }
        }
        if (length == buffer.size()) return Body::too_long;
        buffer[length++] = byte;
    }
}

bool Df1Link::is_duplicate(std::span<const uint8_t> message) const {
    return message[df1::kSrcPos] == previous_[df1::kSrcPos] &&
           message[df1::kCmdPos] == previous_[df1::kCmdPos] &&
           message[df1::kTnsLowPos] == previous_[df1::kTnsLowPos] &&
           message[df1::kTnsHighPos] == previous_[df1::kTnsHighPos];
}

Df1Link::Frame Df1Link::take_frame(int64_t deadline_us, size_t& length, int& error) {
    length = 0;
    error = 0;
    size_t n = 0;
    const Body body = read_body(message_, n, deadline_us);
    if (body == Body::failed) return Frame::failed;
    if (body == Body::timeout) return Frame::timeout;
    if (body == Body::too_long) {
        ++counters_.length_errors;
        if (tracing()) emit("RX message longer than " + std::to_string(message_.size()) + " bytes");
        return Frame::too_long;
    }
    const std::span<const uint8_t> message = std::span<const uint8_t>(message_).first(n);
    if (body == Body::bad_pair) {
        ++counters_.bad_dle_pairs;
        error = link_error::kBadDlePair;
    } else {
        uint8_t bcc = 0;
        const Got got = next_byte(deadline_us, bcc);
        if (got == Got::failed) return Frame::failed;
        // A short message still has its block check on the line: reading it keeps a check
        // byte of 0x10 from taking the DLE of the next message.
        if (n < df1::kHeaderSize) {
            ++counters_.length_errors;
            if (tracing()) emit("RX message too short: " + describe_message(message));
            return Frame::too_short;
        }
        if (got == Got::timeout) return Frame::timeout;
        if (static_cast<uint8_t>(df1::block_check(message) - bcc) != 0) {
            ++counters_.bcc_errors;
            error = link_error::kBcc;
            if (tracing()) {
                char text[48];
                std::snprintf(text, sizeof text, " BCC %02X, expected %02X", bcc, df1::block_check(message));
                emit("RX block check error: " + describe_message(message) + text);
            }
        }
    }
    if (error != 0) {
        ++naks_sent_;
        if (tracing()) emit("TX NAK (" + std::to_string(naks_sent_) + ")");
        if (!write_control(kNak)) return Frame::failed;
        last_response_ = kNak;
        return Frame::refused;
    }
    if (!write_control(kAck)) return Frame::failed;
    last_response_ = kAck;
    ++counters_.received_frames;
    if (is_duplicate(message)) {
        ++counters_.duplicates;
        if (tracing()) emit("RX duplicate ignored, TX ACK: " + describe_message(message));
        return Frame::repeated;
    }
    std::copy_n(message.begin(), previous_.size(), previous_.begin());
    length = n;
    if (tracing()) emit("RX " + describe_message(message) + ", TX ACK");
    return Frame::accepted;
}

int Df1Link::deliver(std::span<const uint8_t> message, std::span<uint8_t> buffer, size_t& length) {
    if (message.size() > buffer.size()) {
        ++counters_.length_errors;
        if (tracing()) emit("RX message longer than " + std::to_string(buffer.size()) + " bytes");
        return fail(link_error::kTooLong);
    }
    std::copy(message.begin(), message.end(), buffer.begin());
    length = message.size();
    return 1;
}

int Df1Link::receive_message(std::span<uint8_t> buffer, size_t& length) {
    length = 0;
    if (!port_) return fail(EBADF);
    if (!pending_.empty()) {
        const std::vector<uint8_t> message = std::move(pending_.front());
        pending_.pop_front();
        return deliver(message, buffer, length);
    }
    last_response_ = kNak;
    const int64_t start = port_->now_us();
    const int64_t deadline = deadline_after(start, timings_.reply_timeout_ms);
    auto timed_out = [&] {
        ++counters_.reply_timeouts;
        if (tracing()) emit("RX time-out after " + std::to_string((port_->now_us() - start) / 1000) + " ms");
        return fail(link_error::kTimeout);
    };
    naks_sent_ = 0;
    while (true) {
        // Hunt for DLE STX; an enquiry here is always answered with ACK.
        size_t skipped = 0;
        while (true) {
            uint8_t byte = 0;
            Got got = next_byte(deadline, byte);
            if (got == Got::failed) return fail(failure_);
            if (got == Got::timeout) return timed_out();
            if (byte == kDle) {
                got = next_byte(deadline, byte);
                if (got == Got::failed) return fail(failure_);
                if (got == Got::timeout) return timed_out();
                if (byte == kStx) break;
                if (byte == kEnq) {
                    trace("RX ENQ while waiting, TX ACK");
                    if (!write_control(kAck)) return fail(failure_);
                } else {
                    skipped += 2;
                }
            } else {
                ++skipped;
            }
            if (out_of_time(deadline)) return timed_out();
        }
        if (skipped != 0 && tracing()) trace("RX skipped " + std::to_string(skipped) + " bytes");

        size_t n = 0;
        int error = 0;
        switch (take_frame(deadline, n, error)) {
            case Frame::failed:
                return fail(failure_);
            case Frame::timeout:
                return timed_out();
            case Frame::too_long:
                return fail(link_error::kTooLong);
            case Frame::too_short:
                return fail(link_error::kTooShort);
            case Frame::accepted:
                return deliver(std::span<const uint8_t>(message_).first(n), buffer, length);
            case Frame::repeated:
                if (port_->now_us() >= deadline) return timed_out();
                continue;
            case Frame::refused:
                // With two transmissions allowed the fourth NAK ends the call.
                if (naks_sent_ - 1 > timings_.max_retries || port_->now_us() >= deadline) return fail(error);
                continue;
        }
    }
}

}  // namespace tolva
