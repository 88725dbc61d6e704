#include "TOLVA_CF/logic/channel_address_form.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TOLVA_CF/logic/edit_numbers.h"

namespace {

using tolva::ChannelHwRecord;
using tolva::cf::ChannelAddressForm;
namespace ctl = tolva::cf::channel_ctl;
namespace label = tolva::cf::channel_labels;
namespace ft = tolva::file_type;

ChannelHwRecord address(int type, int file, int element, int sub_element = -1, int mnemonic = -1,
                        int station = 0) {
    ChannelHwRecord hw{};
    hw.StationNumber = static_cast<std::uint8_t>(station);
    hw.FileType = static_cast<std::int8_t>(type);
    hw.FileNumber = static_cast<std::int16_t>(file);
    const bool slot = type == ft::kOutput || type == ft::kInput;
    hw.ElementNumber = static_cast<std::int16_t>(slot ? 0 : element);
    hw.SlotNumber = static_cast<std::int16_t>(element);
    hw.SubElementNumber = static_cast<std::int16_t>(sub_element);
    hw.MnemonicNumber = static_cast<std::int16_t>(mnemonic);
    return hw;
}

template <typename Case>
std::string case_name(const testing::TestParamInfo<Case>& p) {
    return p.param.name;
}

bool same_bytes(const ChannelHwRecord& a, const ChannelHwRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The preview of every file type, built from the stored address as the dialog opens.
struct PreviewCase {
    const char* name;
    bool digital;
    ChannelHwRecord stored;
    const char* preview;
};

class AddressPreview : public testing::TestWithParam<PreviewCase> {};

TEST_P(AddressPreview, FollowsTheControllersNotation) {
    const auto& c = GetParam();
    const ChannelAddressForm form(c.digital, c.stored);
    EXPECT_EQ(form.address(), c.preview);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFileType, AddressPreview,
    testing::Values(PreviewCase{"OutputAnalogWord", false, address(ft::kOutput, 0, 1, 3), "$O0:1.3"},
                    PreviewCase{"OutputDigitalBit", true, address(ft::kOutput, 0, 1, 3), "$O0:1/3"},
                    PreviewCase{"InputDigitalBit", true, address(ft::kInput, 1, 2, 7), "$I1:2/7"},
                    PreviewCase{"InputAnalogNoWord", false, address(ft::kInput, 1, 2, -1), "$I1:2"},
                    PreviewCase{"StatusDigital", true, address(ft::kStatus, 2, 1, 4), "$S2:1/4"},
                    PreviewCase{"StatusAnalog", false, address(ft::kStatus, 2, 1, 4), "$S2:1"},
                    PreviewCase{"BinaryDigital", true, address(ft::kBinary, 3, 0, 5), "$B3:0/5"},
                    PreviewCase{"BinaryAnalog", false, address(ft::kBinary, 3, 0, 5), "$B3:0/5"},
                    PreviewCase{"BinaryNoBit", true, address(ft::kBinary, 3, 0, -1), "$B3:0"},
                    PreviewCase{"TimerAcc", false, address(ft::kTimer, 4, 3, -1, 1), "$T4:3.ACC"},
                    PreviewCase{"TimerNoMnemonic", false, address(ft::kTimer, 4, 3), "$T4:3"},
                    PreviewCase{"TimerMnemonicBeyondList", false, address(ft::kTimer, 4, 3, -1, 7), "$T4:3"},
                    PreviewCase{"CounterCu", false, address(ft::kCounter, 5, 0, -1, 7), "$C5:0.CU"},
                    PreviewCase{"ControlEn", true, address(ft::kControl, 6, 1, -1, 9), "$R6:1.EN"},
                    PreviewCase{"IntegerIgnoresBit", false, address(ft::kInteger, 7, 10, 3), "$N7:10"},
                    PreviewCase{"FloatIgnoresBit", true, address(ft::kFloat, 8, 2, 3), "$F8:2"},
                    PreviewCase{"WordDigital", true, address(ft::kWord, 9, 0, 15), "$W9:0/15"},
                    PreviewCase{"WordAnalog", false, address(ft::kWord, 9, 0, 15), "$W9:0"},
                    PreviewCase{"HighFileNumber", false, address(ft::kInteger, 255, 255), "$N255:255"},
                    PreviewCase{"UserType", false, address(ft::kUser, 12, 0), ""},
                    PreviewCase{"CombinedCounterCode", false, address(13, 5, 0, -1, 3), ""}),
    case_name<PreviewCase>);

// Labels and visibility after choosing each type.
struct LabelCase {
    const char* name;
    bool digital;
    int type;
    std::string_view element_label;
    std::string_view bit_label;
    bool bit_edit, bit_label_shown, mnemonic_list;
    std::size_t mnemonic_count;
};

class LabelsPerType : public testing::TestWithParam<LabelCase> {};

TEST_P(LabelsPerType, FollowTheChosenType) {
    const auto& c = GetParam();
    ChannelAddressForm form(c.digital, address(ft::kInteger, 7, 0));
    form.choose_file_type(c.type);
    EXPECT_EQ(form.file_type_index(), c.type);
    EXPECT_EQ(form.element_label(), c.element_label);
    if (c.bit_label_shown) {
        EXPECT_EQ(form.bit_label(), c.bit_label);
    }
    EXPECT_EQ(form.bit_edit_shown(), c.bit_edit);
    EXPECT_EQ(form.bit_label_shown(), c.bit_label_shown);
    EXPECT_EQ(form.mnemonic_list_shown(), c.mnemonic_list);
    if (c.mnemonic_list) {
        EXPECT_EQ(form.mnemonic_names().size(), c.mnemonic_count);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryFileType, LabelsPerType,
    testing::Values(
        LabelCase{"OutputAnalog", false, ft::kOutput, label::kSlot, label::kWord, true, true, false, 0},
        LabelCase{"OutputDigital", true, ft::kOutput, label::kSlot, label::kBit, true, true, false, 0},
        LabelCase{"InputAnalog", false, ft::kInput, label::kSlot, label::kWord, true, true, false, 0},
        LabelCase{"StatusAnalog", false, ft::kStatus, label::kElement, {}, false, false, false, 0},
        LabelCase{"StatusDigital", true, ft::kStatus, label::kElement, label::kBit, true, true, false, 0},
        LabelCase{"Binary", false, ft::kBinary, label::kElement, label::kBit, true, true, false, 0},
        LabelCase{"Timer", false, ft::kTimer, label::kElement, label::kMnemonic, false, true, true, 5},
        LabelCase{"Counter", true, ft::kCounter, label::kElement, label::kMnemonic, false, true, true, 8},
        LabelCase{"Control", false, ft::kControl, label::kElement, label::kMnemonic, false, true, true, 10},
        LabelCase{"Integer", false, ft::kInteger, label::kElement, {}, false, false, false, 0},
        LabelCase{"Float", true, ft::kFloat, label::kElement, {}, false, false, false, 0},
        LabelCase{"WordAnalog", false, ft::kWord, label::kElement, {}, false, false, false, 0},
        LabelCase{"WordDigital", true, ft::kWord, label::kElement, label::kBit, true, true, false, 0}),
    case_name<LabelCase>);

TEST(ChannelAddressForm, OpensWithTheStoredValuesAndTheTemplateLabelsWhenNoTypeIsSet) {
    const ChannelAddressForm form(false, address(ft::kUser, 12, 4, 2, -1, 9));
    EXPECT_EQ(form.file_type(), ChannelAddressForm::kNoFileType);
    EXPECT_EQ(form.file_type_index(), -1);
    EXPECT_EQ(form.element_label(), label::kElementDefault);
    EXPECT_EQ(form.bit_label(), label::kBitDefault);
    EXPECT_TRUE(form.bit_edit_shown());
    EXPECT_EQ(form.edit_text(ctl::kStation), "9");
    EXPECT_EQ(form.edit_text(ctl::kFileNumber), "12");
    EXPECT_EQ(form.edit_text(ctl::kElement), "4");
    EXPECT_EQ(form.edit_text(ctl::kBit), "2");
}

TEST(ChannelAddressForm, OutputAndInputAddressesEditTheSlot) {
    ChannelHwRecord stored = address(ft::kInput, 1, 0, 7);
    stored.ElementNumber = 6;  // not shown: an input address is placed by its slot
    stored.SlotNumber = 2;
    const ChannelAddressForm form(true, stored);
    EXPECT_EQ(form.edit_text(ctl::kElement), "2");
    EXPECT_EQ(form.address(), "$I1:2/7");
}

TEST(ChannelAddressForm, TypingASmallFileNumberChoosesItsType) {
    ChannelAddressForm form(false, address(ft::kBinary, 3, 0, 5));
    form.set_edit_text(ctl::kFileNumber, "7");
    form.leave_edit(ctl::kFileNumber);
    EXPECT_EQ(form.file_type_index(), ft::kInteger);
    EXPECT_FALSE(form.bit_edit_shown());
    EXPECT_EQ(form.address(), "$N7:0");
}

TEST(ChannelAddressForm, TypingALargeFileNumberKeepsTheChosenType) {
    ChannelAddressForm form(false, address(ft::kInteger, 7, 3));
    form.set_edit_text(ctl::kFileNumber, "12");
    form.leave_edit(ctl::kFileNumber);
    EXPECT_EQ(form.file_type_index(), ft::kInteger);
    EXPECT_EQ(form.address().rfind("$N12:", 0), 0u) << form.address();
}

TEST(ChannelAddressForm, ChoosingAFixedTypeSetsItsFileNumberAndShowsTheWorkingValues) {
    ChannelAddressForm form(false, address(ft::kInteger, 45, 3));
    form.set_edit_text(ctl::kElement, "17");  // typed, not yet left: the working element stays 3
    form.choose_file_type(ft::kStatus);
    EXPECT_EQ(form.working().FileNumber, 2);
    EXPECT_EQ(form.edit_text(ctl::kFileNumber), "2");
    EXPECT_EQ(form.edit_text(ctl::kElement), "3");
    EXPECT_EQ(form.address(), "$S2:3");
}

TEST(ChannelAddressForm, ChoosingAnotherTypeMovesOnlyFileNumbersBelowTen) {
    ChannelAddressForm low(false, address(ft::kInteger, 5, 0));
    low.choose_file_type(ft::kBinary);
    EXPECT_EQ(low.working().FileNumber, ft::kBinary);

    ChannelAddressForm high(false, address(ft::kInteger, 10, 0));
    high.choose_file_type(ft::kBinary);
    EXPECT_EQ(high.working().FileNumber, 10);
}

TEST(ChannelAddressForm, ChoosingNoTypeChangesNothingElse) {
    ChannelAddressForm form(false, address(ft::kTimer, 4, 3, -1, 1));
    form.choose_file_type(-1);
    EXPECT_EQ(form.file_type(), ChannelAddressForm::kNoFileType);
    EXPECT_EQ(form.working().FileNumber, 4);
    EXPECT_EQ(form.element_label(), label::kElement);
    EXPECT_EQ(form.bit_label(), label::kMnemonic);
    EXPECT_EQ(form.address(), "");
}

TEST(ChannelAddressForm, MnemonicsFollowTheType) {
    ChannelAddressForm form(false, address(ft::kControl, 6, 1, -1, 9));
    EXPECT_EQ(form.mnemonic_index(), 9);
    form.choose_file_type(ft::kTimer);  // a timer has five mnemonics: 9 is none of them
    EXPECT_EQ(form.mnemonic_index(), -1);
    EXPECT_EQ(form.working().MnemonicNumber, -1);
    form.choose_mnemonic(2);
    EXPECT_EQ(form.address(), "$T4:1.DN");
    form.choose_mnemonic(5);
    EXPECT_EQ(form.mnemonic_index(), -1);
    EXPECT_EQ(form.address(), "$T4:1");
}

TEST(ChannelAddressForm, LeavingAnEditTakesOnlyValuesOkWouldAccept) {
    ChannelAddressForm form(true, address(ft::kBinary, 3, 12, 5));
    for (const char* text : {"300", "-1", "x", ""}) {
        form.set_edit_text(ctl::kElement, text);
        form.leave_edit(ctl::kElement);
        EXPECT_EQ(form.working_element(), 12) << text;
    }
    form.set_edit_text(ctl::kFileNumber, "70000");
    form.leave_edit(ctl::kFileNumber);
    EXPECT_EQ(form.working().FileNumber, 3);
    form.set_edit_text(ctl::kBit, "40000");
    form.leave_edit(ctl::kBit);
    EXPECT_EQ(form.working().SubElementNumber, 5);
    EXPECT_EQ(form.address(), "$B3:12/5");

    form.set_edit_text(ctl::kElement, " 255 ");
    form.leave_edit(ctl::kElement);
    form.set_edit_text(ctl::kBit, "-1");
    form.leave_edit(ctl::kBit);
    EXPECT_EQ(form.address(), "$B3:255");
}

// OK checks the file type against the file number.
struct TypeRuleCase {
    int type;  // list index, -1 none
    const char* file_number;
    bool accepted;
};

void PrintTo(const TypeRuleCase& c, std::ostream* os) {
    *os << "type " << c.type << " file " << c.file_number;
}

class FileTypeRule : public testing::TestWithParam<TypeRuleCase> {};

TEST_P(FileTypeRule, RefusesATypeThatDoesNotFitTheFileNumber) {
    const auto& c = GetParam();
    ChannelAddressForm form(false, address(ft::kInteger, 50, 0));
    form.choose_file_type(c.type);
    form.set_edit_text(ctl::kFileNumber, c.file_number);  // typed, then OK pressed at once
    const auto refusal = form.accept();
    EXPECT_EQ(!refusal, c.accepted) << c.type << " " << c.file_number;
    if (refusal) {
        EXPECT_EQ(refusal->control_id, ctl::kFileType);
        EXPECT_EQ(refusal->message, "File Type is Invalid for Specified File Number");
    }
}

INSTANTIATE_TEST_SUITE_P(
    TypesAndNumbers, FileTypeRule,
    testing::Values(TypeRuleCase{ft::kInteger, "5", false}, TypeRuleCase{ft::kInteger, "7", true},
                    TypeRuleCase{ft::kInteger, "10", true}, TypeRuleCase{ft::kOutput, "0", true},
                    TypeRuleCase{ft::kOutput, "12", false}, TypeRuleCase{ft::kInput, "1", true},
                    TypeRuleCase{ft::kStatus, "20", false}, TypeRuleCase{ft::kBinary, "3", true},
                    TypeRuleCase{ft::kBinary, "33", true}, TypeRuleCase{ft::kFloat, "9", false},
                    TypeRuleCase{-1, "5", false}, TypeRuleCase{-1, "12", true}));

TEST(ChannelAddressForm, NoTypeIsStoredAsUser) {
    ChannelAddressForm form(false, address(ft::kInteger, 50, 0));
    form.choose_file_type(-1);
    ASSERT_FALSE(form.accept());
    EXPECT_EQ(form.result().FileType, ft::kUser);
}

// OK refuses what the record's fields cannot hold or the controllers do not have.
struct RangeCase {
    const char* name;
    bool digital;
    int type;
    int control_id;
    const char* text;
    const char* message;  // null: accepted
};

class EditRanges : public testing::TestWithParam<RangeCase> {};

TEST_P(EditRanges, AreCheckedByOk) {
    const auto& c = GetParam();
    const ChannelHwRecord stored = address(c.type, c.type == ft::kBinary ? 3 : c.type, 1, 2, -1, 4);
    ChannelAddressForm form(c.digital, stored);
    form.set_edit_text(c.control_id, c.text);
    const auto refusal = form.accept();
    if (c.message == nullptr) {
        EXPECT_FALSE(refusal) << refusal->message;
        return;
    }
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->control_id, c.control_id);
    EXPECT_EQ(refusal->message, c.message);
    EXPECT_TRUE(same_bytes(form.result(), stored));
}

constexpr const char* kByte = "Please enter an integer between 0 and 255.";
constexpr const char* kStation = "Please enter an integer between 0 and 31.";
constexpr const char* kBitRange = "Please enter an integer between -1 and 15.";
constexpr const char* kWordRange = "Please enter an integer between -1 and 255.";
constexpr const char* kNotANumber = "Please enter an integer.";

INSTANTIATE_TEST_SUITE_P(
    Fields, EditRanges,
    testing::Values(RangeCase{"Element256", true, ft::kBinary, ctl::kElement, "256", kByte},
                    RangeCase{"Element255", true, ft::kBinary, ctl::kElement, "255", nullptr},
                    RangeCase{"ElementNegative", true, ft::kBinary, ctl::kElement, "-1", kByte},
                    RangeCase{"Slot70000", false, ft::kOutput, ctl::kElement, "70000", kByte},
                    RangeCase{"FileNumber256", false, ft::kBinary, ctl::kFileNumber, "256", kByte},
                    RangeCase{"FileNumberNegative", false, ft::kBinary, ctl::kFileNumber, "-3", kByte},
                    RangeCase{"Station32", true, ft::kBinary, ctl::kStation, "32", kStation},
                    RangeCase{"Station31", true, ft::kBinary, ctl::kStation, "31", nullptr},
                    RangeCase{"Bit16", true, ft::kBinary, ctl::kBit, "16", kBitRange},
                    RangeCase{"BitMinus2", true, ft::kBinary, ctl::kBit, "-2", kBitRange},
                    RangeCase{"BitNone", true, ft::kBinary, ctl::kBit, "-1", nullptr},
                    RangeCase{"DigitalOutputBit16", true, ft::kOutput, ctl::kBit, "16", kBitRange},
                    RangeCase{"AnalogOutputWord255", false, ft::kOutput, ctl::kBit, "255", nullptr},
                    RangeCase{"AnalogOutputWord256", false, ft::kOutput, ctl::kBit, "256", kWordRange},
                    RangeCase{"HiddenBitIsNoInput", false, ft::kInteger, ctl::kBit, "40000", nullptr},
                    RangeCase{"NotANumber", false, ft::kInteger, ctl::kFileNumber, "7a", kNotANumber},
                    RangeCase{"Empty", false, ft::kInteger, ctl::kElement, "", kNotANumber}),
    case_name<RangeCase>);

TEST(ChannelAddressForm, OkBuildsTheAddressFromTheEdits) {
    ChannelHwRecord stored = address(ft::kInteger, 7, 3, -1, 2, 1);
    stored.Buffer = 0xDEADBEEF;
    ChannelAddressForm form(false, stored);
    form.choose_file_type(ft::kOutput);
    form.set_edit_text(ctl::kElement, "4");
    form.set_edit_text(ctl::kBit, "9");
    form.set_edit_text(ctl::kStation, "12");
    ASSERT_FALSE(form.accept());
    const ChannelHwRecord& r = form.result();
    EXPECT_EQ(r.FileType, ft::kOutput);
    EXPECT_EQ(r.FileNumber, 0);
    EXPECT_EQ(r.ElementNumber, 0);
    EXPECT_EQ(r.SlotNumber, 4);
    EXPECT_EQ(r.SubElementNumber, 9);
    EXPECT_EQ(r.StationNumber, 12);
    EXPECT_EQ(r.MnemonicNumber, 2);  // carried from the working copy
    EXPECT_EQ(r.Buffer, 0xDEADBEEFu);

    form.choose_file_type(ft::kTimer);  // shows the working element 3 again
    form.set_edit_text(ctl::kElement, "4");
    form.set_edit_text(ctl::kFileNumber, "40");
    form.choose_mnemonic(1);
    ASSERT_FALSE(form.accept());
    EXPECT_EQ(form.result().ElementNumber, 4);
    EXPECT_EQ(form.result().SlotNumber, 4);
    EXPECT_EQ(form.result().MnemonicNumber, 1);
}

TEST(ChannelAddressForm, HiddenBitEditKeepsTheStoredWord) {
    const ChannelHwRecord stored = address(ft::kInteger, 7, 3, 500);
    ChannelAddressForm form(false, stored);
    ASSERT_FALSE(form.accept());
    EXPECT_EQ(form.result().SubElementNumber, 500);
    EXPECT_FALSE(form.changed());
}

TEST(ChannelAddressForm, CommitWritesAndMarksOnlyWhenTheBytesChanged) {
    const ChannelHwRecord stored = address(ft::kBinary, 3, 0, 5, -1, 2);
    std::uint8_t part[16];
    std::memcpy(part, &stored, sizeof part);
    int modified = 7;

    ChannelAddressForm untouched(true, stored);
    ASSERT_FALSE(untouched.accept());
    EXPECT_FALSE(untouched.changed());
    EXPECT_FALSE(tolva::cf::commit_channel_address(untouched, part, &modified));
    EXPECT_EQ(modified, 7);

    ChannelAddressForm back_and_forth(true, stored);
    back_and_forth.set_edit_text(ctl::kStation, "9");
    back_and_forth.set_edit_text(ctl::kStation, "2");
    ASSERT_FALSE(back_and_forth.accept());
    EXPECT_FALSE(tolva::cf::commit_channel_address(back_and_forth, part, &modified));
    EXPECT_EQ(modified, 7);

    ChannelAddressForm changed(true, stored);
    changed.set_edit_text(ctl::kStation, "9");
    ASSERT_FALSE(changed.accept());
    EXPECT_TRUE(changed.changed());
    EXPECT_TRUE(tolva::cf::commit_channel_address(changed, part, &modified));
    EXPECT_EQ(modified, 1);
    EXPECT_EQ(part[0], 9);
    EXPECT_EQ(std::memcmp(part + 1, reinterpret_cast<const std::uint8_t*>(&stored) + 1, 15), 0);
}

TEST(EditNumbers, ReadDecimalTextOnly) {
    using tolva::cf::parse_edit_integer;
    EXPECT_EQ(parse_edit_integer("42"), 42);
    EXPECT_EQ(parse_edit_integer(" -1\t"), -1);
    EXPECT_EQ(parse_edit_integer("+7"), 7);
    EXPECT_EQ(parse_edit_integer("4294967295"), 4294967295);
    for (const char* bad :
         {"", " ", "+", "-", "1.5", "1,000", "0x10", "12a", "+-1", "99999999999999999999"}) {
        EXPECT_FALSE(parse_edit_integer(bad)) << bad;
    }
}

}  // namespace
