#include "tolva_sc/pccc_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "tolva_sc/df1_frame.h"
#include "tolva_sc/link_codes.h"
#include "tolva_sc/pccc_codes.h"

namespace tolva {

namespace {

std::string hex(int code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(code));
    return text;
}

bool valid_span(const TransferRequest& r) {
    return r.byte_count > 0 && r.byte_count <= pccc::kMaxTransferBytes && r.element >= 0 &&
           r.data.size() >= static_cast<size_t>(r.byte_count);
}

// The first send and its retries; a retry count at the top of its range must not wrap to no
// send at all.
uint32_t sends_with_retries(uint32_t retries) {
    return retries == UINT32_MAX ? retries : retries + 1;
}

pccc::BlockAddress address_of(const TransferRequest& r) {
    return {r.station,
            r.file_type,
            r.file_number,
            static_cast<uint16_t>(r.element),
            static_cast<uint8_t>(r.byte_count),
            r.sub_element};
}

}  // namespace

PcccCommands::PcccCommands(MessageLink& link, RunFlag running, ModuleAddressLookup module_address)
    : link_(link), running_(std::move(running)), lookup_(std::move(module_address)) {
    reply_.resize(df1::kMaxMessage);
}

std::optional<uint8_t> PcccCommands::module_address() {
    if (!module_address_) module_address_ = lookup_ ? lookup_() : std::nullopt;
    return *module_address_;
}

int PcccCommands::finish(TransferRequest& request, int code) {
    request.result = code;
    return code == 0 ? 1 : 0;
}

int PcccCommands::exchange(TransferRequest& request, const Build& build, size_t capacity, uint32_t sends,
                           std::span<uint8_t> read_into, Mismatch mismatch_rule) {
    // The whole buffer, not only what this reply needs: a longer reply of another station or
    // an earlier transaction must be read, judged and skipped, not end this one.
    const std::span<uint8_t> buffer(reply_);
    int mismatch = 0;
    for (uint32_t attempt = 0; attempt < sends; ++attempt) {
        if (running_ && !running_()) return finish(request, pccc_error::kStopped);
        const std::vector<uint8_t> message = build(tns_.next());
        if (link_.send(message) != 1) return finish(request, platform::last_error());
        const int64_t start = link_.now_ms();
        const int64_t budget = link_.reply_budget_ms();
        mismatch = 0;
        while (true) {
            if (running_ && !running_()) return finish(request, pccc_error::kStopped);
            const int64_t left = budget - (link_.now_ms() - start);
            if (mismatch != 0 && left <= 0) {
                if (mismatch_rule == Mismatch::block_read) return finish(request, link_error::kTimeout);
                break;
            }
            size_t length = 0;
            if (link_.receive(buffer, length, std::max<int64_t>(left, 0)) != 1) {
                const int code = platform::last_error();
                if (mismatch != 0 && code == link_error::kTimeout && mismatch_rule != Mismatch::block_read)
                    break;
                return finish(request, code);
            }
            if (length > buffer.size()) return finish(request, link_error::kTooLong);
            const std::span<const uint8_t> reply = buffer.first(length);
            int code = pccc::check_reply(message, reply, module_address());
            // A reply of another transaction is late or repeated, whoever sent it and for
            // whatever command: it answers nothing asked now.
            if (code != 0 && !pccc::same_tns(message, reply)) code = pccc_error::kOtherTransaction;
            if (code != pccc_error::kOtherTransaction && length > capacity) {
                trace("S" + std::to_string(request.station) + " reply of " + std::to_string(length) +
                      " bytes, at most " + std::to_string(capacity) + " expected");
                return finish(request, link_error::kTooLong);
            }
            if (code == 0) {
                const size_t available = length - pccc::kDataPos;
                if (available < read_into.size()) {
                    trace("S" + std::to_string(request.station) + " reply with " + std::to_string(available) +
                          " data bytes, " + std::to_string(read_into.size()) + " asked");
                    return finish(request, pccc_error::kShortReply);
                }
                std::copy_n(reply.begin() + pccc::kDataPos, read_into.size(), read_into.begin());
                return finish(request, 0);
            }
            if (pccc_error::is_status_error(code) ||
                (code == pccc_error::kFromModule && pccc::same_transaction(message, reply))) {
                return finish(request, code);
            }
            // A block read waits only for replies that belong to another station or
            // transaction; another command's reply to this TNS answers nothing it asked.
            if (mismatch_rule == Mismatch::block_read && code != pccc_error::kOtherTransaction) {
                return finish(request, code);
            }
            trace("S" + std::to_string(request.station) + " reply skipped: " + hex(code));
            mismatch = code;
        }
    }
    return finish(request, mismatch != 0 ? mismatch : link_error::kTimeout);
}

int PcccCommands::read_directory(TransferRequest& request) {
    if (!valid_span(request)) return finish(request, EINVAL);
    const auto count = static_cast<uint8_t>(request.byte_count);
    const auto element = static_cast<uint16_t>(request.element);
    return exchange(
        request,
        [&](uint16_t tns) { return pccc::directory_read_request(request.station, tns, count, element); },
        static_cast<size_t>(count) + pccc::kReadReplyExtra, sends_with_retries(link_.max_retries()),
        request.data.first(count));
}

int PcccCommands::diagnostic_status(TransferRequest& request) {
    if (!valid_span(request)) return finish(request, EINVAL);
    return exchange(
        request, [&](uint16_t tns) { return pccc::diagnostic_status_request(request.station, tns); },
        pccc::kDiagnosticReplyCapacity, sends_with_retries(link_.max_retries()),
        request.data.first(static_cast<size_t>(request.byte_count)));
}

int PcccCommands::read_block(TransferRequest& request, uint8_t processor_type) {
    if (!valid_span(request) || request.file_type > 9) return finish(request, EINVAL);
    const pccc::BlockAddress address = address_of(request);
    const pccc::Variant variant = pccc::variant_for(request.file_number, processor_type);
    return exchange(
        request, [&](uint16_t tns) { return pccc::block_read_request(address, variant, tns); },
        static_cast<size_t>(request.byte_count) + pccc::kReadReplyExtra, 1,
        request.data.first(static_cast<size_t>(request.byte_count)), Mismatch::block_read);
}

int PcccCommands::write_block(TransferRequest& request, uint8_t processor_type) {
    if (!valid_span(request) || request.file_type > 9) return finish(request, EINVAL);
    const pccc::BlockAddress address = address_of(request);
    const pccc::Variant variant = pccc::variant_for(request.file_number, processor_type);
    const std::span<const uint8_t> data = request.data.first(static_cast<size_t>(request.byte_count));
    return exchange(request,
                    [&](uint16_t tns) { return pccc::block_write_request(address, variant, tns, data); },
                    pccc::kWriteReplyCapacity, sends_with_retries(link_.max_retries()), {});
}

int PcccCommands::write_masked(TransferRequest& request, uint16_t mask) {
    if (!valid_span(request) || request.file_type > 9 || request.byte_count % 2 != 0) {
        return finish(request, EINVAL);
    }
    const pccc::BlockAddress address = address_of(request);
    const std::span<const uint8_t> data = request.data.first(static_cast<size_t>(request.byte_count));
    return exchange(request,
                    [&](uint16_t tns) { return pccc::masked_write_request(address, tns, mask, data); },
                    pccc::kWriteReplyCapacity, sends_with_retries(link_.max_retries()), {});
}

}  // namespace tolva
