#pragma once
// The four commands of the scanner, each one request and its reply over the link: the
// file-directory read, the block read, the diagnostic status and the block write. Each
// returns 1 with the request's result 0, or 0 with the result set to the failure code
// (pccc_codes.h, link_codes.h or a platform error).
//
// Replies are matched to their request: a status error (local, remote, extended) ends the
// command at once. A reply with another TNS belongs to an earlier transaction (late or
// repeated, of any station, command or length) and is skipped by every command. A block read
// skips a reply of another station or transaction and awaits the next one within the link's
// reply time-out (then ends with the time-out); any other mismatch to its own TNS (another
// command, the interface module's own answer) ends it at once. The other commands skip
// replies of another station, transaction or command the same way, end at once on the
// module's own answer to this transaction, and are sent again, with a new TNS, at most
// max_retries() times when only skipped replies came within a whole reply time-out. A reply
// to this transaction longer than the command's reply capacity ends it with kTooLong. A
// cleared run flag ends any command with kStopped.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "tolva_sc/message_link.h"
#include "tolva_sc/pccc_message.h"

namespace tolva {

// One transfer between the scanner and a controller's data table.
struct TransferRequest {
    uint8_t station = 0;
    uint8_t file_type = 0;  // 0 O ... 9 W
    uint16_t file_number = 0;
    int16_t element = 0;
    uint8_t sub_element = 0;  // typed commands: the word of the element to start at
    int16_t byte_count = 0;
    // Reads fill the first byte_count bytes; writes send them.
    std::span<uint8_t> data;
    int32_t result = 0;
};

using RunFlag = std::function<bool()>;
// The interface module's own station address, when it is configured.
using ModuleAddressLookup = std::function<std::optional<uint8_t>()>;
using CommandTrace = std::function<void(std::string_view line)>;

class PcccCommands {
  public:
    // `module_address` is asked once, on the first reply check.
    PcccCommands(MessageLink& link, RunFlag running, ModuleAddressLookup module_address = {});

    // Reads byte_count bytes of the station's I/O directory (file type 0x60) from element
    // `element`.
    int read_directory(TransferRequest& request);
    // Reads byte_count bytes (at least 1) of the station's diagnostic status.
    int diagnostic_status(TransferRequest& request);
    // The variant follows from the file number and the station's processor type.
    int read_block(TransferRequest& request, uint8_t processor_type);
    int write_block(TransferRequest& request, uint8_t processor_type);
    // The protected typed logical write with mask: only the bits set in `mask` change, in
    // every word of the request (byte_count even). For processors that take typed commands.
    int write_masked(TransferRequest& request, uint16_t mask);

    uint16_t last_tns() const { return tns_.last(); }
    void set_trace(CommandTrace trace) { trace_ = std::move(trace); }

  private:
    using Build = std::function<std::vector<uint8_t>(uint16_t tns)>;
    // How a command treats a reply that does not answer it.
    enum class Mismatch : uint8_t { skip_and_resend, block_read };
    int exchange(TransferRequest& request, const Build& build, size_t capacity, uint32_t sends,
                 std::span<uint8_t> read_into, Mismatch mismatch_rule = Mismatch::skip_and_resend);
    int finish(TransferRequest& request, int code);
    std::optional<uint8_t> module_address();
    void trace(std::string_view line) const {
        if (trace_) trace_(line);
    }

    MessageLink& link_;
    RunFlag running_;
    ModuleAddressLookup lookup_;
    std::optional<std::optional<uint8_t>> module_address_;
    pccc::TransactionCounter tns_;
    CommandTrace trace_;
    std::vector<uint8_t> reply_;
};

}  // namespace tolva
