#pragma once
// What the communication dialog shows and does, without any widget: a working copy of the
// device's 28-byte CommSettings with its defaults filled in, the port and baud rate lists,
// the texts of the four number edits, and the checks and result of OK.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "TOLVA_CF/logic/control_ids.h"
#include "TOLVA_CF/logic/machine_ports.h"
#include "tolva_ex/records.h"

namespace tolva::cf {

inline constexpr std::array<std::string_view, 8> kPresetBaudRates{"300",  "600",  "1200",  "2400",
                                                                  "4800", "9600", "19200", "38400"};

class CommSettingsForm {
  public:
    // `machine_ports` are the serial ports the configuration server's machine reports, none
    // when they cannot be read. An empty port becomes "COM" and `default_port_number`
    // unless that does not fit the six characters (it then stays empty, which the scanner
    // reads as the device's own default); a zero baud rate becomes 19200.
    CommSettingsForm(int default_port_number, const CommSettings& stored,
                     const std::optional<std::vector<std::string>>& machine_ports);
    // No ports could be read: only the working one is offered.
    CommSettingsForm(int default_port_number, const CommSettings& stored, std::nullopt_t)
        : CommSettingsForm(default_port_number, stored, std::optional<std::vector<PortOffer>>{}) {}
    // The same with the machine's serial devices, of which those not named yet get their
    // map entry through `mapper` (the machine's port map when empty) when OK takes one.
    CommSettingsForm(int default_port_number, const CommSettings& stored,
                     const std::optional<std::vector<PortOffer>>& machine_ports, PortMapper mapper = {});

    // A name per entry of the port list; empty for a device not named yet.
    const std::vector<std::string>& port_names() const { return port_names_; }
    // What the port list shows.
    const std::vector<std::string>& port_labels() const { return port_labels_; }
    int port_index() const { return port_index_; }  // -1 none
    const std::vector<std::string>& baud_names() const { return baud_names_; }
    int baud_index() const { return baud_index_; }
    bool read_first() const { return read_first_; }
    bool read_back() const { return read_back_; }

    // Texts of the edits kReplyTimeout, kReplyAck, kMaxRetries, kMaxEnquires; "" otherwise.
    const std::string& edit_text(int control_id) const;
    void set_edit_text(int control_id, std::string_view text);

    void choose_port(int index);
    void choose_baud(int index);
    void set_read_first(bool on) { read_first_ = on; }
    void set_read_back(bool on) { read_back_ = on; }

    // OK: on success the new settings are result() and the result is none. A chosen device
    // not named yet first gets the next free "COMn" in the port map; when the map cannot be
    // written the refusal says so and shows the entry an administrator must add, and nothing
    // is taken.
    std::optional<Refusal> accept();
    const CommSettings& result() const { return result_; }
    bool changed() const;
    const CommSettings& working() const { return working_; }

  private:
    void fill_ports(const std::optional<std::vector<PortOffer>>& machine_ports);
    // Names the chosen device not named yet; a refusal when its map entry cannot be made.
    std::optional<Refusal> name_chosen_device();
    void fill_baud_rates();

    CommSettings stored_;
    CommSettings working_;
    CommSettings result_;
    std::vector<std::string> port_names_;
    std::vector<std::string> port_labels_;
    std::vector<std::string> port_paths_;  // map paths of the devices not named yet
    PortMapper mapper_;
    int port_index_ = -1;
    std::vector<std::string> baud_names_;
    int baud_index_ = -1;
    bool read_first_ = false;
    bool read_back_ = false;
    std::array<std::string, 4> edits_;  // reply time-out, ACK time-out, retries, enquiries
};

// Copies accepted settings over `target` and sets *modified to 1, only when the 28 bytes
// differ. Returns whether it wrote.
bool commit_comm_settings(const CommSettingsForm& form, CommSettings& target, int* modified);

}  // namespace tolva::cf
