#include "TOLVA_CF/dialogs/channel_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstring>

#include "dialog_driver.h"
#include "qt_fixture.h"
#include "tolva_ex/records.h"

namespace {

using tolva::ChannelHwRecord;
using tolva::cf::CChannel;
namespace ctl = tolva::cf::channel_ctl;
namespace ft = tolva::file_type;
using tolva_cf_test::choose_with_keys;

class ChannelDialog : public tolva_cf_test::QtDialogTest {
  protected:
    // A record whose every byte is set, so that any stray write shows.
    static qvr::ChannelRecord record_with(bool digital, const ChannelHwRecord& hw) {
        qvr::ChannelRecord record;
        for (std::size_t i = 0; i < sizeof record.bytes; ++i)
            record.bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
        record.head.Type = digital ? qvr::ChannelKind::DI : qvr::ChannelKind::AI;
        std::memcpy(record.bytes + (digital ? tolva::kDigitalHwOffset : tolva::kAnalogHwOffset), &hw,
                    sizeof hw);
        return record;
    }
    static ChannelHwRecord address_of(const qvr::ChannelRecord& record, bool digital) {
        ChannelHwRecord hw;
        std::memcpy(&hw, record.bytes + (digital ? tolva::kDigitalHwOffset : tolva::kAnalogHwOffset),
                    sizeof hw);
        return hw;
    }
    static ChannelHwRecord hw(int type, int file, int element, int sub, int mnemonic, int station) {
        ChannelHwRecord a{};
        a.FileType = static_cast<std::int8_t>(type);
        a.FileNumber = static_cast<std::int16_t>(file);
        const bool slot = type == ft::kOutput || type == ft::kInput;
        a.ElementNumber = static_cast<std::int16_t>(slot ? 0 : element);
        a.SlotNumber = static_cast<std::int16_t>(element);
        a.SubElementNumber = static_cast<std::int16_t>(sub);
        a.MnemonicNumber = static_cast<std::int16_t>(mnemonic);
        a.StationNumber = static_cast<std::uint8_t>(station);
        return a;
    }
    // Replaces an edit's text as typed and leaves the field for `next`.
    static void type_and_leave(QLineEdit& edit, const char* text, QWidget& next) {
        edit.setFocus();
        edit.selectAll();
        QTest::keyClicks(&edit, text);
        next.setFocus();
    }
    static std::string text_of(QLabel* label) { return label ? label->text().toStdString() : "<none>"; }
};

TEST_F(ChannelDialog, TimerAddressEditedThroughItsWidgets) {
    qvr::ChannelRecord record = record_with(false, hw(ft::kInteger, 7, 0, -1, -1, 1));
    const qvr::ChannelRecord before = record;
    int modified = 0;
    CChannel dialog(nullptr, 0, record, &modified, messages, help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    EXPECT_EQ(dialog.windowTitle(), "Channel Device Specific Configuration");

    auto* type = control<QComboBox>(dialog, ctl::kFileType);
    auto* file = control<QLineEdit>(dialog, ctl::kFileNumber);
    auto* element = control<QLineEdit>(dialog, ctl::kElement);
    auto* station = control<QLineEdit>(dialog, ctl::kStation);
    auto* mnemonic = control<QComboBox>(dialog, ctl::kMnemonic);
    auto* preview = control<QLabel>(dialog, ctl::kAddress);
    ASSERT_TRUE(type && file && element && station && mnemonic && preview);
    EXPECT_EQ(type->currentText(), "Integer (N)");
    EXPECT_EQ(text_of(preview), "$N7:0");

    type->setFocus();
    choose_with_keys(*type, ft::kTimer);
    EXPECT_EQ(type->currentText(), "Timer (T)");
    EXPECT_EQ(file->text(), "4");  // a file below 10 follows its type
    EXPECT_TRUE(mnemonic->isVisible());
    EXPECT_FALSE(control<QLineEdit>(dialog, ctl::kBit)->isVisible());
    EXPECT_EQ(text_of(control<QLabel>(dialog, ctl::kBitLabel)), "Mnemonic :");
    EXPECT_EQ(mnemonic->count(), 5);

    mnemonic->setFocus();
    choose_with_keys(*mnemonic, 1);
    type_and_leave(*element, "3", *station);
    EXPECT_EQ(text_of(preview), "$T4:3.ACC");
    ASSERT_NO_FATAL_FAILURE(save_screenshot(dialog, "channel_dialog_timer"));

    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_EQ(modified, 1);
    const ChannelHwRecord stored = address_of(record, false);
    EXPECT_EQ(stored.FileType, ft::kTimer);
    EXPECT_EQ(stored.FileNumber, 4);
    EXPECT_EQ(stored.ElementNumber, 3);
    EXPECT_EQ(stored.SlotNumber, 3);
    EXPECT_EQ(stored.MnemonicNumber, 1);
    EXPECT_EQ(stored.StationNumber, 1);
    // Only the address part changed.
    EXPECT_EQ(std::memcmp(record.bytes, before.bytes, tolva::kAnalogHwOffset), 0);
    EXPECT_EQ(std::memcmp(record.bytes + 204, before.bytes + 204, 12), 0);
}

TEST_F(ChannelDialog, TypedFileNumberChoosesTheTypeOfADigitalChannel) {
    qvr::ChannelRecord record = record_with(true, hw(ft::kBinary, 3, 0, 5, -1, 2));
    const qvr::ChannelRecord before = record;
    int modified = 0;
    CChannel dialog(nullptr, 1, record, &modified, messages, help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    auto* type = control<QComboBox>(dialog, ctl::kFileType);
    auto* file = control<QLineEdit>(dialog, ctl::kFileNumber);
    auto* station = control<QLineEdit>(dialog, ctl::kStation);
    auto* preview = control<QLabel>(dialog, ctl::kAddress);
    ASSERT_TRUE(type && file && station && preview);
    EXPECT_EQ(text_of(preview), "$B3:0/5");

    type_and_leave(*file, "7", *station);
    EXPECT_EQ(type->currentText(), "Integer (N)");
    EXPECT_FALSE(control<QLineEdit>(dialog, ctl::kBit)->isVisible());
    EXPECT_FALSE(control<QLabel>(dialog, ctl::kBitLabel)->isVisible());
    EXPECT_EQ(text_of(preview), "$N7:0");

    type_and_leave(*file, "12", *station);
    EXPECT_EQ(type->currentText(), "Integer (N)");
    EXPECT_EQ(text_of(preview), "$N12:0");

    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(modified, 1);
    const ChannelHwRecord stored = address_of(record, true);
    EXPECT_EQ(stored.FileType, ft::kInteger);
    EXPECT_EQ(stored.FileNumber, 12);
    // A digital address lies at 192: the delays before it are not touched.
    EXPECT_EQ(std::memcmp(record.bytes, before.bytes, tolva::kDigitalHwOffset), 0);
}

TEST_F(ChannelDialog, RefusedOkKeepsTheDialogOpenAndTheRecordUnchanged) {
    qvr::ChannelRecord record = record_with(false, hw(ft::kInteger, 7, 0, -1, -1, 1));
    const qvr::ChannelRecord before = record;
    int modified = 0;
    CChannel dialog(nullptr, 0, record, &modified, messages, help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    auto* type = control<QComboBox>(dialog, ctl::kFileType);
    auto* file = control<QLineEdit>(dialog, ctl::kFileNumber);
    auto* station = control<QLineEdit>(dialog, ctl::kStation);
    ASSERT_TRUE(type && file && station);

    type->setFocus();
    choose_with_keys(*type, ft::kOutput);
    EXPECT_EQ(text_of(control<QLabel>(dialog, ctl::kElementLabel)), "Slot Number :");
    EXPECT_EQ(text_of(control<QLabel>(dialog, ctl::kBitLabel)), "Word Number");
    type_and_leave(*file, "12", *station);
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"File Type is Invalid for Specified File Number"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), type);

    // An element the record cannot hold is refused too, with the range.
    type_and_leave(*file, "0", *station);
    type_and_leave(*control<QLineEdit>(dialog, ctl::kElement), "300", *station);
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    ASSERT_EQ(messages.texts.size(), 2u);
    EXPECT_EQ(messages.texts[1], "Please enter an integer between 0 and 255.");
    EXPECT_TRUE(dialog.isVisible());

    QTest::mouseClick(named<QPushButton>(dialog, "ctl_cancel"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(modified, 0);
    EXPECT_TRUE(record == before);
}

TEST_F(ChannelDialog, OkWithoutAChangeLeavesModifiedUntouched) {
    qvr::ChannelRecord record = record_with(true, hw(ft::kInput, 1, 2, 7, -1, 3));
    const qvr::ChannelRecord before = record;
    int modified = 0;
    CChannel dialog(nullptr, 1, record, &modified, messages, help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    EXPECT_EQ(text_of(control<QLabel>(dialog, ctl::kAddress)), "$I1:2/7");
    ASSERT_NO_FATAL_FAILURE(save_screenshot(dialog, "channel_dialog_input"));
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_ok"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(modified, 0);
    EXPECT_TRUE(record == before);
}

TEST_F(ChannelDialog, HelpOpensTheDialogsTopic) {
    qvr::ChannelRecord record = record_with(false, hw(ft::kFloat, 8, 0, -1, -1, 0));
    CChannel dialog(nullptr, 0, record, nullptr, messages, help);
    ASSERT_NO_FATAL_FAILURE(show(dialog));
    QTest::mouseClick(named<QPushButton>(dialog, "ctl_help"), Qt::LeftButton);
    EXPECT_EQ(help.topics, std::vector<std::string>{"chanaddr"});
    EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
