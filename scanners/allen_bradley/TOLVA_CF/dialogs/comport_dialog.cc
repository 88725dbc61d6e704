#include "TOLVA_CF/dialogs/comport_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>

#include "TOLVA_CF/logic/help_pages.h"

namespace tolva::cf {

namespace {

void name_control(QWidget* widget, int control_id) {
    widget->setObjectName(QString::fromStdString(control_name(control_id)));
}

QComboBox* list_of(const std::vector<std::string>& names, int selected, int control_id) {
    auto* list = new QComboBox;
    name_control(list, control_id);
    for (const auto& name : names) list->addItem(QString::fromStdString(name));
    list->setCurrentIndex(selected);
    return list;
}

}  // namespace

CComport::CComport(QWidget* parent, int default_port_number, CommSettings& settings, int* modified,
                   const std::optional<std::vector<std::string>>& machine_ports, MessageBoxes& messages,
                   HelpPages& help)
    : QDialog(parent),
      settings_(settings),
      modified_(modified),
      messages_(messages),
      help_(help),
      form_(default_port_number, settings, machine_ports) {
    build();
}

CComport::CComport(QWidget* parent, int default_port_number, CommSettings& settings, int* modified,
                   const std::optional<std::vector<PortOffer>>& machine_ports, MessageBoxes& messages,
                   HelpPages& help, PortMapper mapper)
    : QDialog(parent),
      settings_(settings),
      modified_(modified),
      messages_(messages),
      help_(help),
      form_(default_port_number, settings, machine_ports, std::move(mapper)) {
    build();
}

void CComport::build() {
    setObjectName("CComport");
    setWindowTitle(kCommDialogTitle);

    auto* port = list_of(form_.port_labels(), form_.port_index(), comm_ctl::kPort);
    auto* baud = list_of(form_.baud_names(), form_.baud_index(), comm_ctl::kBaudRate);
    connect(port, &QComboBox::activated, this, [this](int index) { form_.choose_port(index); });
    connect(baud, &QComboBox::activated, this, [this](int index) { form_.choose_baud(index); });
    auto* com_group = new QGroupBox(" Com Settings ");
    auto* com_form = new QFormLayout(com_group);
    com_form->addRow("&Port:", port);
    com_form->addRow("&Baud Rate:", baud);

    auto* read_first = new QCheckBox("Read Outputs From Device On First Scan");
    auto* read_back = new QCheckBox("Read Outputs Back From Device If Not Writing");
    name_control(read_first, comm_ctl::kReadFirst);
    name_control(read_back, comm_ctl::kReadBack);
    read_first->setChecked(form_.read_first());
    read_back->setChecked(form_.read_back());
    connect(read_first, &QCheckBox::toggled, this, [this](bool on) { form_.set_read_first(on); });
    connect(read_back, &QCheckBox::toggled, this, [this](bool on) { form_.set_read_back(on); });
    auto* scan_group = new QGroupBox(" Output Scan Options ");
    auto* scan_layout = new QVBoxLayout(scan_group);
    scan_layout->addWidget(read_first);
    scan_layout->addWidget(read_back);

    auto* numbers = new QFormLayout;
    numbers->addRow("Wait Reply Time Out (Secs) :", add_edit(comm_ctl::kReplyTimeout));
    numbers->addRow("Wait Acknowledgment Time Out (Chars) :", add_edit(comm_ctl::kReplyAck));
    numbers->addRow("Maximum Number of Retries :", add_edit(comm_ctl::kMaxRetries));
    numbers->addRow("Maximum Number of Enquiries :", add_edit(comm_ctl::kMaxEnquires));

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ctl_ok");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("ctl_cancel");
    buttons->button(QDialogButtonBox::Help)->setObjectName("ctl_help");
    connect(buttons, &QDialogButtonBox::accepted, this, &CComport::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CComport::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] { help_.open(this, kCommHelpTopic); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(com_group);
    layout->addWidget(scan_group);
    layout->addLayout(numbers);
    layout->addWidget(buttons);
}

QLineEdit* CComport::add_edit(int control_id) {
    auto* edit = new QLineEdit(QString::fromStdString(form_.edit_text(control_id)));
    name_control(edit, control_id);
    connect(edit, &QLineEdit::textChanged, this,
            [this, control_id](const QString& text) { form_.set_edit_text(control_id, text.toStdString()); });
    return edit;
}

QWidget* CComport::control(int control_id) const {
    return findChild<QWidget*>(QString::fromStdString(control_name(control_id)));
}

void CComport::accept() {
    if (const auto refusal = form_.accept()) {
        messages_.warning(this, refusal->message);
        if (QWidget* widget = control(refusal->control_id)) widget->setFocus();
        return;
    }
    // A device that was just named shows its name from now on.
    if (auto* port = findChild<QComboBox*>(QString::fromStdString(control_name(comm_ctl::kPort)));
        port != nullptr && form_.port_index() >= 0) {
        port->setItemText(
            form_.port_index(),
            QString::fromStdString(form_.port_labels()[static_cast<size_t>(form_.port_index())]));
    }
    commit_comm_settings(form_, settings_, modified_);
    QDialog::accept();
}

}  // namespace tolva::cf
