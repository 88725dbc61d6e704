#include "TOLVA_CF/dialogs/channel_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QString>
#include <QVBoxLayout>

#include <cstring>
#include <utility>

#include "TOLVA_CF/logic/address_notation.h"
#include "TOLVA_CF/logic/help_pages.h"
#include "tolva_ex/records.h"

namespace tolva::cf {

namespace {

ChannelHwRecord read_address(std::span<const std::uint8_t, 16> part) {
    ChannelHwRecord hw;
    std::memcpy(&hw, part.data(), sizeof hw);
    return hw;
}

std::span<std::uint8_t, 16> address_part_of(qvr::ChannelRecord& record, bool digital) {
    const std::size_t offset = digital ? kDigitalHwOffset : kAnalogHwOffset;
    return std::span<std::uint8_t, 16>(record.bytes + offset, 16);
}

QString text_of(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void name_control(QWidget* widget, int control_id) {
    widget->setObjectName(QString::fromStdString(control_name(control_id)));
}

}  // namespace

CChannel::CChannel(QWidget* parent, unsigned channel_flags, qvr::ChannelRecord& record, int* modified,
                   MessageBoxes& messages, HelpPages& help)
    : QDialog(parent),
      address_part_(address_part_of(record, (channel_flags & 1u) != 0)),
      modified_(modified),
      messages_(messages),
      help_(help),
      form_((channel_flags & 1u) != 0, read_address(address_part_)) {
    setObjectName("CChannel");
    setWindowTitle(kChannelDialogTitle);
    auto* grid = new QGridLayout;

    station_ = add_edit(channel_ctl::kStation);
    grid->addWidget(new QLabel("Station Number :"), 0, 0);
    grid->addWidget(station_, 0, 1);

    file_type_ = new QComboBox;
    name_control(file_type_, channel_ctl::kFileType);
    for (int t = 0; t < kFileTypeCount; ++t) file_type_->addItem(text_of(file_type_list_name(t)));
    grid->addWidget(new QLabel("File Type :"), 1, 0);
    grid->addWidget(file_type_, 1, 1);

    file_number_ = add_edit(channel_ctl::kFileNumber);
    grid->addWidget(new QLabel("File Number :"), 2, 0);
    grid->addWidget(file_number_, 2, 1);

    element_label_ = new QLabel;
    name_control(element_label_, channel_ctl::kElementLabel);
    element_ = add_edit(channel_ctl::kElement);
    grid->addWidget(element_label_, 3, 0);
    grid->addWidget(element_, 3, 1);

    // The bit edit and the mnemonic list share one place; only one of them is shown.
    bit_label_ = new QLabel;
    name_control(bit_label_, channel_ctl::kBitLabel);
    bit_ = add_edit(channel_ctl::kBit);
    mnemonic_ = new QComboBox;
    name_control(mnemonic_, channel_ctl::kMnemonic);
    grid->addWidget(bit_label_, 4, 0);
    grid->addWidget(bit_, 4, 1);
    grid->addWidget(mnemonic_, 4, 1);

    address_ = new QLabel("$T255:255.PRE");
    name_control(address_, channel_ctl::kAddress);
    grid->addWidget(new QLabel("Address : "), 5, 0);
    grid->addWidget(address_, 5, 1);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ctl_ok");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("ctl_cancel");
    buttons->button(QDialogButtonBox::Help)->setObjectName("ctl_help");
    connect(buttons, &QDialogButtonBox::accepted, this, &CChannel::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CChannel::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] { help_.open(this, kChannelHelpTopic); });

    connect(file_type_, &QComboBox::activated, this, [this](int index) {
        form_.choose_file_type(index);
        refresh();
    });
    connect(mnemonic_, &QComboBox::activated, this, [this](int index) {
        form_.choose_mnemonic(index);
        refresh();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    refresh();
}

QLineEdit* CChannel::add_edit(int control_id) {
    auto* edit = new QLineEdit;
    name_control(edit, control_id);
    connect(edit, &QLineEdit::textChanged, this,
            [this, control_id](const QString& text) { form_.set_edit_text(control_id, text.toStdString()); });
    connect(edit, &QLineEdit::editingFinished, this, [this, control_id] {
        form_.leave_edit(control_id);
        refresh();
    });
    return edit;
}

QWidget* CChannel::control(int control_id) const {
    return findChild<QWidget*>(QString::fromStdString(control_name(control_id)));
}

void CChannel::refresh() {
    {
        const QSignalBlocker block(file_type_);
        file_type_->setCurrentIndex(form_.file_type_index());
    }
    {
        const QSignalBlocker block(mnemonic_);
        const auto names = form_.mnemonic_names();
        bool same = static_cast<std::size_t>(mnemonic_->count()) == names.size();
        for (std::size_t i = 0; same && i < names.size(); ++i) {
            same = mnemonic_->itemText(static_cast<int>(i)) == text_of(names[i]);
        }
        if (!same) {
            mnemonic_->clear();
            for (const auto name : names) mnemonic_->addItem(text_of(name));
        }
        mnemonic_->setCurrentIndex(form_.mnemonic_index());
    }
    element_label_->setText(text_of(form_.element_label()));
    bit_label_->setText(text_of(form_.bit_label()));
    bit_label_->setVisible(form_.bit_label_shown());
    bit_->setVisible(form_.bit_edit_shown());
    mnemonic_->setVisible(form_.mnemonic_list_shown());
    address_->setText(text_of(form_.address()));
    const std::pair<QLineEdit*, int> edits[] = {{station_, channel_ctl::kStation},
                                                {file_number_, channel_ctl::kFileNumber},
                                                {element_, channel_ctl::kElement},
                                                {bit_, channel_ctl::kBit}};
    for (const auto& [edit, id] : edits) {
        const QString text = QString::fromStdString(form_.edit_text(id));
        if (edit->text() != text) edit->setText(text);
    }
}

void CChannel::accept() {
    if (const auto refusal = form_.accept()) {
        messages_.warning(this, refusal->message);
        if (QWidget* widget = control(refusal->control_id)) widget->setFocus();
        return;
    }
    commit_channel_address(form_, address_part_, modified_);
    QDialog::accept();
}

}  // namespace tolva::cf
