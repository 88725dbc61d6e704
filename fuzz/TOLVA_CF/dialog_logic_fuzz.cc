// Stored records as the configuration files and the configuration program hand them over
// (any bytes at all), followed by a user's events on the dialog that edits them. The first
// byte chooses the address dialog, the communication dialog or a paste.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "TOLVA_CF/logic/channel_address_form.h"
#include "TOLVA_CF/logic/channel_paste.h"
#include "TOLVA_CF/logic/comm_settings_form.h"

namespace {

namespace ft = tolva::file_type;

void check(bool ok) {
    if (!ok) std::abort();
}

class Input {
  public:
    explicit Input(std::span<const std::uint8_t> data) : data_(data) {}
    bool empty() const { return data_.empty(); }
    std::uint8_t byte() {
        if (data_.empty()) return 0;
        const std::uint8_t b = data_.front();
        data_ = data_.subspan(1);
        return b;
    }
    template <typename T>
    T record() {
        T value{};
        const std::size_t n = std::min(sizeof value, data_.size());
        std::memcpy(&value, data_.data(), n);
        data_ = data_.subspan(n);
        return value;
    }
    std::string text() {
        const std::size_t n = std::min<std::size_t>(byte() % 16, data_.size());
        std::string t(reinterpret_cast<const char*>(data_.data()), n);
        data_ = data_.subspan(n);
        return t;
    }

  private:
    std::span<const std::uint8_t> data_;
};

void check_address_form(const tolva::cf::ChannelAddressForm& form) {
    check(form.address().size() <= 24);
    check(form.file_type_index() >= -1 && form.file_type_index() < 10);
    check(form.mnemonic_index() >= -1 &&
          form.mnemonic_index() < static_cast<int>(form.mnemonic_names().size()));
}

void address_dialog(Input& in) {
    namespace ctl = tolva::cf::channel_ctl;
    constexpr int kEdits[] = {ctl::kStation, ctl::kFileNumber, ctl::kElement, ctl::kBit};
    const bool digital = (in.byte() & 1) != 0;
    const auto stored = in.record<tolva::ChannelHwRecord>();
    tolva::cf::ChannelAddressForm form(digital, stored);
    check_address_form(form);
    while (!in.empty()) {
        const std::uint8_t op = in.byte();
        const auto arg = static_cast<std::int8_t>(in.byte());
        switch (op % 5) {
            case 0:
                form.choose_file_type(arg);
                break;
            case 1:
                form.choose_mnemonic(arg);
                break;
            case 2:
                form.set_edit_text(kEdits[static_cast<std::uint8_t>(arg) % 4], in.text());
                break;
            case 3:
                form.leave_edit(kEdits[static_cast<std::uint8_t>(arg) % 4]);
                break;
            default: {
                if (form.accept()) break;
                const tolva::ChannelHwRecord& r = form.result();
                check(r.StationNumber <= 31);
                check(r.FileNumber >= 0 && r.FileNumber <= 255);
                check(r.SlotNumber >= 0 && r.SlotNumber <= 255);
                check(r.ElementNumber >= 0 && r.ElementNumber <= 255);
                check(r.FileType >= -1 && r.FileType <= 9);
                const bool fixed = r.FileType == ft::kOutput || r.FileType == ft::kInput ||
                                   r.FileType == ft::kStatus || r.FileNumber <= 9;
                check(!fixed || r.FileType == r.FileNumber);
                check(!form.bit_edit_shown() || (r.SubElementNumber >= -1 && r.SubElementNumber <= 255));
                check(r.Buffer == stored.Buffer);
                std::uint8_t part[16];
                std::memcpy(part, &stored, sizeof part);
                int modified = 0;
                check(tolva::cf::commit_channel_address(form, part, &modified) == form.changed());
                check(modified == (form.changed() ? 1 : 0));
                break;
            }
        }
        check_address_form(form);
    }
}

void comm_dialog(Input& in) {
    namespace ctl = tolva::cf::comm_ctl;
    constexpr int kEdits[] = {ctl::kReplyTimeout, ctl::kReplyAck, ctl::kMaxRetries, ctl::kMaxEnquires};
    const int default_port = in.byte() | in.byte() << 8;
    const auto stored = in.record<tolva::CommSettings>();
    std::optional<std::vector<std::string>> ports;
    if (const std::uint8_t count = in.byte(); count % 8 != 0) {
        ports.emplace();
        for (int i = 0; i < count % 8; ++i) ports->push_back(in.text());
    }
    tolva::cf::CommSettingsForm form(default_port, stored, ports);
    while (!in.empty()) {
        const std::uint8_t op = in.byte();
        const auto arg = static_cast<std::int8_t>(in.byte());
        switch (op % 5) {
            case 0:
                form.choose_port(arg);
                break;
            case 1:
                form.choose_baud(arg);
                break;
            case 2:
                form.set_edit_text(kEdits[static_cast<std::uint8_t>(arg) % 4], in.text());
                break;
            case 3:
                form.set_read_first((arg & 1) != 0);
                form.set_read_back((arg & 2) != 0);
                break;
            default: {
                if (form.accept()) break;
                const tolva::CommSettings& r = form.result();
                check(r.ReplyTimeout <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()));
                check(r.ReplyAck <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()));
                check(r.ReadFirst <= 1 && r.ReadBack <= 1);
                check(r.BaudRate != 0);
                break;
            }
        }
        check(form.port_index() >= -1 && form.port_index() < static_cast<int>(form.port_names().size()));
        check(form.baud_index() >= 0 && form.baud_index() < static_cast<int>(form.baud_names().size()));
    }
}

void paste(Input& in) {
    const auto flags = in.record<std::uint32_t>();
    const auto source = in.record<qvr::ChannelRecord>();
    auto destination = in.record<qvr::ChannelRecord>();
    tolva::cf::paste_channel(destination, source, flags);
    check(static_cast<unsigned>(destination.head.Type) == (flags & 0xFFu));
    check(std::memcmp(destination.bytes, source.bytes, 24) == 0);
    check(std::memcmp(destination.bytes + 138, source.bytes + 138, 23) == 0);
    if (((flags ^ static_cast<unsigned>(source.head.Type)) & 1u) == 0) {
        qvr::ChannelRecord expected = source;
        expected.head.Type = destination.head.Type;
        check(destination == expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(std::span<const std::uint8_t>(data, size));
    switch (in.byte() % 3) {
        case 0:
            address_dialog(in);
            break;
        case 1:
            comm_dialog(in);
            break;
        default:
            paste(in);
            break;
    }
    return 0;
}
