#pragma once
// The modal controller-address dialog of one channel: widgets bound to a ChannelAddressForm.
// Every widget is named after its control id ("ctl_1003").
#include <QDialog>

#include <cstdint>
#include <span>

#include "TOLVA_CF/dialogs/dialog_services.h"
#include "TOLVA_CF/logic/channel_address_form.h"
#include "qvr/records/channel_record.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace tolva::cf {

class CChannel final : public QDialog {
    Q_OBJECT

  public:
    // Bit 0 of `channel_flags` selects the digital layout and with it the place of the
    // address in `record`. OK writes the address back and sets *modified to 1 (when not
    // null) only when it changed.
    CChannel(QWidget* parent, unsigned channel_flags, qvr::ChannelRecord& record, int* modified,
             MessageBoxes& messages, HelpPages& help);

    const ChannelAddressForm& form() const { return form_; }

    void accept() override;

  private:
    QLineEdit* add_edit(int control_id);
    void refresh();
    QWidget* control(int control_id) const;

    std::span<std::uint8_t, 16> address_part_;
    int* modified_;
    MessageBoxes& messages_;
    HelpPages& help_;
    ChannelAddressForm form_;

    QLineEdit* station_ = nullptr;
    QComboBox* file_type_ = nullptr;
    QLineEdit* file_number_ = nullptr;
    QLabel* element_label_ = nullptr;
    QLineEdit* element_ = nullptr;
    QLabel* bit_label_ = nullptr;
    QLineEdit* bit_ = nullptr;
    QComboBox* mnemonic_ = nullptr;
    QLabel* address_ = nullptr;
};

inline constexpr const char* kChannelDialogTitle = "Channel Device Specific Configuration";

}  // namespace tolva::cf
