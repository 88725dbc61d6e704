#pragma once
// The modal communication dialog of one device: widgets bound to a CommSettingsForm. Every
// widget is named after its control id ("ctl_601").
#include <QDialog>

#include <optional>
#include <string>
#include <vector>

#include "TOLVA_CF/dialogs/dialog_services.h"
#include "TOLVA_CF/logic/comm_settings_form.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace tolva::cf {

class CComport final : public QDialog {
    Q_OBJECT

  public:
    // `machine_ports`: see CommSettingsForm. OK writes the settings back and sets *modified
    // to 1 (when not null) only when they changed.
    CComport(QWidget* parent, int default_port_number, CommSettings& settings, int* modified,
             const std::optional<std::vector<std::string>>& machine_ports, MessageBoxes& messages,
             HelpPages& help);
    CComport(QWidget* parent, int default_port_number, CommSettings& settings, int* modified, std::nullopt_t,
             MessageBoxes& messages, HelpPages& help)
        : CComport(parent, default_port_number, settings, modified, std::optional<std::vector<PortOffer>>{},
                   messages, help) {}
    // With the machine's serial devices: choosing one not named yet gives it a name in the
    // port map on OK (through `mapper`, the machine's port map when empty).
    CComport(QWidget* parent, int default_port_number, CommSettings& settings, int* modified,
             const std::optional<std::vector<PortOffer>>& machine_ports, MessageBoxes& messages,
             HelpPages& help, PortMapper mapper = {});

    const CommSettingsForm& form() const { return form_; }

    void accept() override;

  private:
    void build();
    QLineEdit* add_edit(int control_id);
    QWidget* control(int control_id) const;

    CommSettings& settings_;
    int* modified_;
    MessageBoxes& messages_;
    HelpPages& help_;
    CommSettingsForm form_;
};

inline constexpr const char* kCommDialogTitle = "Advanced Device Specific Configuration";

}  // namespace tolva::cf
