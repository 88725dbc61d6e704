#include "TOLVA_CF/logic/comm_settings_form.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "TOLVA_CF/logic/edit_numbers.h"
#include "platform/ascii_text.h"

namespace tolva::cf {

namespace {

enum EditSlot : std::size_t { kReplyTimeoutSlot, kReplyAckSlot, kMaxRetriesSlot, kMaxEnquiresSlot };

std::optional<std::size_t> edit_slot(int control_id) {
    switch (control_id) {
        case comm_ctl::kReplyTimeout:
            return kReplyTimeoutSlot;
        case comm_ctl::kReplyAck:
            return kReplyAckSlot;
        case comm_ctl::kMaxRetries:
            return kMaxRetriesSlot;
        case comm_ctl::kMaxEnquires:
            return kMaxEnquiresSlot;
        default:
            return std::nullopt;
    }
}

// The two time-outs are entered as signed numbers, the counts as unsigned ones; all four
// are stored as u32, so a negative time-out would become one of many years.
constexpr std::int64_t kSignedEditMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kUnsignedEditMax = std::numeric_limits<std::uint32_t>::max();

std::optional<Refusal> read_edit(const std::string& text, int control_id, std::int64_t high,
                                 std::uint32_t& field) {
    const auto parsed = parse_edit_integer(text);
    if (!parsed) return Refusal{control_id, std::string(kNotAnIntegerMessage)};
    if (*parsed < 0 || *parsed > high) return Refusal{control_id, range_message(0, high)};
    field = static_cast<std::uint32_t>(*parsed);
    return std::nullopt;
}

std::optional<std::vector<PortOffer>> offers_of(const std::optional<std::vector<std::string>>& names) {
    if (!names) return std::nullopt;
    std::vector<PortOffer> offers;
    for (const auto& name : *names) offers.push_back({name, name, {}});
    return offers;
}

}  // namespace

CommSettingsForm::CommSettingsForm(int default_port_number, const CommSettings& stored,
                                   const std::optional<std::vector<std::string>>& machine_ports)
    : CommSettingsForm(default_port_number, stored, offers_of(machine_ports)) {}

CommSettingsForm::CommSettingsForm(int default_port_number, const CommSettings& stored,
                                   const std::optional<std::vector<PortOffer>>& machine_ports,
                                   PortMapper mapper)
    : stored_(stored), working_(stored), result_(stored), mapper_(std::move(mapper)) {
    if (!mapper_.next_free_name || !mapper_.add) mapper_ = machine_port_mapper();
    if (comm_port(working_).empty()) {
        // A cut name would name another port, so a number that does not fit gives none.
        if (const auto name = default_comm_port(default_port_number)) {
            std::memcpy(working_.CommPort, name->data(), name->size());
        }
    }
    if (working_.BaudRate == 0) working_.BaudRate = kDefaultBaudRate;

    fill_ports(machine_ports);
    fill_baud_rates();
    read_first_ = working_.ReadFirst != 0;
    read_back_ = working_.ReadBack != 0;
    edits_[kReplyTimeoutSlot] = edit_text_of(working_.ReplyTimeout);
    edits_[kReplyAckSlot] = edit_text_of(working_.ReplyAck);
    edits_[kMaxRetriesSlot] = edit_text_of(working_.MaxRetries);
    edits_[kMaxEnquiresSlot] = edit_text_of(working_.MaxEnquires);
}

void CommSettingsForm::fill_ports(const std::optional<std::vector<PortOffer>>& machine_ports) {
    const std::string_view working_port = comm_port(working_);
    if (machine_ports) {
        for (const auto& offer : *machine_ports) {
            if (offer.name.size() > sizeof working_.CommPort) continue;
            if (offer.name.empty() && offer.map_path.empty()) continue;
            if (port_index_ < 0 && !offer.name.empty() && platform::equal_ignoring_case(offer.name, working_port)) {
                port_index_ = static_cast<int>(port_names_.size());
            }
            port_names_.push_back(offer.name);
            port_labels_.push_back(offer.label.empty() ? offer.name : offer.label);
            port_paths_.push_back(offer.name.empty() ? offer.map_path : std::string());
        }
    }
    // The device's own port is always offered, even when the machine does not report it.
    if (port_index_ < 0 && !working_port.empty()) {
        port_index_ = static_cast<int>(port_names_.size());
        port_names_.emplace_back(working_port);
        port_labels_.emplace_back(working_port);
        port_paths_.emplace_back();
    }
}

std::optional<Refusal> CommSettingsForm::name_chosen_device() {
    if (port_index_ < 0) return std::nullopt;
    const auto i = static_cast<std::size_t>(port_index_);
    if (!port_names_[i].empty()) return std::nullopt;
    const std::string& path = port_paths_[i];
    // Never a name the list shows: the device's own port may be one no device answers to
    // now, and other devices may use it.
    const std::string name = mapper_.next_free_name(port_names_);
    if (name.empty()) {
        return Refusal{comm_ctl::kPort,
                       "No port name is free for " + path + " in the port map of this machine."};
    }
    if (mapper_.add(name, path) != 0) {
        const int error = errno;
        std::string text = error == EACCES
                               ? "This user may not change the port map of this machine, so " + path +
                                     " cannot be given a port name here. An administrator must add this "
                                     "entry to the machine's settings:\n"
                               : "The port map of this machine could not be written (" +
                                     std::string(std::strerror(error)) + "), so " + path +
                                     " has no port name. The entry to add to the machine's settings:\n";
        return Refusal{comm_ctl::kPort, text + platform::serial_port_mapping_text(name, path)};
    }
    port_names_[i] = name;
    port_labels_[i] = name + " - " + port_labels_[i];
    port_paths_[i].clear();
    return std::nullopt;
}

void CommSettingsForm::fill_baud_rates() {
    baud_names_.assign(kPresetBaudRates.begin(), kPresetBaudRates.end());
    const std::string working_baud = edit_text_of(working_.BaudRate);
    const auto found = std::find(baud_names_.begin(), baud_names_.end(), working_baud);
    if (found == baud_names_.end()) baud_names_.push_back(working_baud);
    baud_index_ = static_cast<int>(std::find(baud_names_.begin(), baud_names_.end(), working_baud) -
                                   baud_names_.begin());
}

const std::string& CommSettingsForm::edit_text(int control_id) const {
    static const std::string kNone;
    const auto slot = edit_slot(control_id);
    return slot ? edits_[*slot] : kNone;
}

void CommSettingsForm::set_edit_text(int control_id, std::string_view text) {
    if (const auto slot = edit_slot(control_id)) edits_[*slot].assign(text);
}

void CommSettingsForm::choose_port(int index) {
    port_index_ = index >= 0 && static_cast<std::size_t>(index) < port_names_.size() ? index : -1;
}

void CommSettingsForm::choose_baud(int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < baud_names_.size()) baud_index_ = index;
}

std::optional<Refusal> CommSettingsForm::accept() {
    CommSettings next = working_;
    if (auto r =
            read_edit(edits_[kReplyTimeoutSlot], comm_ctl::kReplyTimeout, kSignedEditMax, next.ReplyTimeout))
        return r;
    if (auto r = read_edit(edits_[kReplyAckSlot], comm_ctl::kReplyAck, kSignedEditMax, next.ReplyAck))
        return r;
    if (auto r = read_edit(edits_[kMaxRetriesSlot], comm_ctl::kMaxRetries, kUnsignedEditMax, next.MaxRetries))
        return r;
    if (auto r =
            read_edit(edits_[kMaxEnquiresSlot], comm_ctl::kMaxEnquires, kUnsignedEditMax, next.MaxEnquires))
        return r;

    const auto baud = parse_edit_integer(baud_names_[static_cast<std::size_t>(baud_index_)]);
    if (!baud || *baud <= 0 || *baud > kUnsignedEditMax) {
        return Refusal{comm_ctl::kBaudRate, range_message(1, kUnsignedEditMax)};
    }
    // Last, once nothing else can refuse, so a refusal leaves the map as it was.
    if (auto r = name_chosen_device()) return r;

    // Both lists hold only names that fit and numbers that parse.
    std::memset(next.CommPort, 0, sizeof next.CommPort);
    if (port_index_ >= 0) {
        const std::string& port = port_names_[static_cast<std::size_t>(port_index_)];
        std::memcpy(next.CommPort, port.data(), std::min(port.size(), sizeof next.CommPort));
    }
    next.BaudRate = static_cast<std::uint32_t>(*baud);
    next.ReadFirst = read_first_ ? 1 : 0;
    next.ReadBack = read_back_ ? 1 : 0;
    result_ = next;
    return std::nullopt;
}

bool CommSettingsForm::changed() const {
    return std::memcmp(&result_, &stored_, sizeof result_) != 0;
}

bool commit_comm_settings(const CommSettingsForm& form, CommSettings& target, int* modified) {
    if (std::memcmp(&target, &form.result(), sizeof target) == 0) return false;
    std::memcpy(&target, &form.result(), sizeof target);
    if (modified) *modified = 1;
    return true;
}

}  // namespace tolva::cf
