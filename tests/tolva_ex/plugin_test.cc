// The plug-in opened the way the configuration store opens it, from the test's own folder.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qvr/ext/ex_interface.h"
#include "support/child_process.h"
#include "tolva_ex/record_types.h"
#include "tolva_ex/records.h"
#include "typed_text.h"

extern "C" size_t ex_buffer_layout_in_c(size_t* data_offset, size_t* must_free_offset);

namespace {

using tolva_test::leaf_names;
using tolva_test::leaf_text;

const std::set<std::string> kExported = {"Ex_Get_Config_Type", "Ex_Undecorate_Config_Extra",
                                         "Ex_Undecorate_Channel_Hw", "Ex_Get_Channel_Hw_Type"};

// Every entry point the configuration store and the scanner look for.
const char* const kAllEntryPoints[] = {
    "Ex_DoXml",
    "Ex_Get_Config_Type",
    "Ex_Decorated_Config_Size",
    "Ex_Decorate_Config",
    "Ex_Undecorate_Config",
    "Ex_Validate_Device",
    "Ex_Get_Config_Extra_FileName",
    "Ex_Get_Config_Extra_FileOffset",
    "Ex_Get_Config_Extra_Type",
    "Ex_Decorate_Config_Extra",
    "Ex_Undecorate_Config_Extra",
    "Ex_Validate_Device_Extra",
    "Ex_Get_Config_Port",
    "Ex_Get_Channel_Hw_Type",
    "Ex_Decorate_Channel_Hw",
    "Ex_Undecorate_Channel_Hw",
    "Ex_Validate_Chan",
    "Ex_Get_Mixed_Channel_Type",
    "Ex_Get_Channel_Extra_FileName",
    "Ex_Get_Channel_Extra_FileOffset",
    "Ex_Get_Channel_Extra_Type",
    "Ex_Get_Channel_Extra_Size",
    "Ex_Get_Channel_Extra_Struct",
    "Ex_Decorate_Channel_Extra",
    "Ex_Undecorate_Channel_Extra",
    "Ex_Validate_Chan_Extra",
    "Ex_ValidateChanWithConfig",
};

std::string plugin_path() {
    return qvr_test::bin_path("tolva_ex.so");
}

class PluginTest : public testing::Test {
  protected:
    void SetUp() override {
        handle_ = dlopen(plugin_path().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        get_config_type = entry<decltype(&Ex_Get_Config_Type)>("Ex_Get_Config_Type");
        undecorate_config_extra = entry<decltype(&Ex_Undecorate_Config_Extra)>("Ex_Undecorate_Config_Extra");
        undecorate_channel_hw = entry<decltype(&Ex_Undecorate_Channel_Hw)>("Ex_Undecorate_Channel_Hw");
        get_channel_hw_type = entry<decltype(&Ex_Get_Channel_Hw_Type)>("Ex_Get_Channel_Hw_Type");
        ASSERT_TRUE(get_config_type && undecorate_config_extra && undecorate_channel_hw && get_channel_hw_type);
    }
    void TearDown() override {
        if (handle_ != nullptr) dlclose(handle_);
    }

    template <typename Fn>
    Fn entry(const char* name) {
        return reinterpret_cast<Fn>(dlsym(handle_, name));
    }

    void* handle_ = nullptr;
    decltype(&Ex_Get_Config_Type) get_config_type = nullptr;
    decltype(&Ex_Undecorate_Config_Extra) undecorate_config_extra = nullptr;
    decltype(&Ex_Undecorate_Channel_Hw) undecorate_channel_hw = nullptr;
    decltype(&Ex_Get_Channel_Hw_Type) get_channel_hw_type = nullptr;
};

TEST(PluginSymbols, ExportsExactlyItsFourEntryPoints) {
    auto nm = qvr_test::ChildProcess::spawn(QVR_NM, {"-D", "--defined-only", plugin_path()}, {}, true);
    ASSERT_EQ(nm.wait_exit_code(std::chrono::seconds(60)), 0);
    std::istringstream lines(nm.read_stdout(std::chrono::milliseconds(0)));
    std::set<std::string> defined;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string w; fields >> w;) words.push_back(w);
        if (!words.empty()) defined.insert(words.back());
    }
    EXPECT_EQ(defined, kExported);
}

TEST_F(PluginTest, OnlyItsFourEntryPointsAreFoundByName) {
    for (const char* name : kAllEntryPoints) {
        SCOPED_TRACE(name);
        EXPECT_EQ(dlsym(handle_, name) != nullptr, kExported.count(name) == 1);
    }
    EXPECT_EQ(dlsym(handle_, "_ZN5tolva22DeviceConfigRecordTypeE"), nullptr);
}

// The descriptions are those of the record headers, built on the process's one copy of the
// typed-structure library: the caller's operations and releases work on them.
TEST_F(PluginTest, DescriptionsUseTheSharedTypedStructureLibrary) {
    const StructsType* config = get_config_type(nullptr, 0);
    const StructsType* hw = get_channel_hw_type(0, 0, nullptr);
    ASSERT_NE(config, nullptr);
    ASSERT_NE(hw, nullptr);
    EXPECT_EQ(config->size, sizeof(tolva::DeviceConfigRecord));
    EXPECT_EQ(hw->size, sizeof(tolva::ChannelHwRecord));

    const auto* scan_rate = static_cast<const StructsField*>(config->args[0].v);
    EXPECT_EQ(scan_rate->type->ascify, &structs_int_ascify);
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(scan_rate->type->ascify), &info), 0);
    EXPECT_TRUE(std::string(info.dli_fname).ends_with("/libtslib.so")) << info.dli_fname;

    tolva::DeviceConfigRecord record{};
    EXPECT_EQ(leaf_names(config, &record), leaf_names(&tolva::DeviceConfigRecordType, &record));
    tolva::ChannelHwRecord address{};
    EXPECT_EQ(leaf_names(hw, &address), leaf_names(&tolva::ChannelHwRecordType, &address));
    address.StationNumber = 3;
    address.FileType = tolva::file_type::kWord;
    EXPECT_EQ(leaf_text(hw, "StationNumber", &address), "3");
    EXPECT_EQ(leaf_text(hw, "FileType", &address), "Word(W)");
}

std::vector<std::uint8_t> channel_record(std::uint8_t kind, std::int8_t file_type, std::int16_t mnemonic) {
    std::vector<std::uint8_t> record(tolva::kChannelRecordSize);
    for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i * 13 + 5);
    record[tolva::kChannelKindOffset] = kind;
    tolva::ChannelHwRecord hw{};
    hw.StationNumber = 4;
    hw.FileType = file_type;
    hw.FileNumber = 9;
    hw.ElementNumber = 2;
    hw.SubElementNumber = -1;
    hw.MnemonicNumber = mnemonic;
    hw.SlotNumber = 2;
    EXPECT_TRUE(tolva::write_channel_hw(record, hw));
    return record;
}

TEST_F(PluginTest, UndecoratingFoldsTheMnemonicOfCountersAndControls) {
    namespace ft = tolva::file_type;
    struct Case {
        std::uint8_t kind;
        std::int8_t file_type;
        std::int16_t mnemonic;
        std::int8_t expected;
    };
    const Case cases[] = {
        {0, ft::kCounter, 3, 13},  // UN
        {1, ft::kControl, 0, 20},  // LEN
        {2, ft::kTimer, 1, ft::kTimer},
        {3, ft::kCounter, 7, 17},
        {4, ft::kControl, 9, 29},
        {0, ft::kInteger, 3, ft::kInteger},
        {1, ft::kCounter, -1, ft::kCounter},
        {0, ft::kUser, 3, ft::kUser},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << int(c.kind) << " type " << int(c.file_type) << " mnemonic "
                                        << c.mnemonic);
        auto record = channel_record(c.kind, c.file_type, c.mnemonic);
        auto expected = record;
        expected[tolva::channel_hw_offset(c.kind) + offsetof(tolva::ChannelHwRecord, FileType)] =
            static_cast<std::uint8_t>(c.expected);
        // The table's kind does not choose the layout: the record's own kind does.
        ExBuffer buffer{static_cast<std::int32_t>(record.size()), record.data(), 0};
        undecorate_channel_hw(c.kind ^ 1, 7, &buffer);
        EXPECT_EQ(record, expected);
        EXPECT_EQ(buffer.data, record.data());
        EXPECT_EQ(buffer.size, 216);
        EXPECT_EQ(buffer.mustFree, 0);
    }
}

TEST_F(PluginTest, UndecoratingIgnoresBuffersThatHoldNoRecord) {
    auto record = channel_record(0, tolva::file_type::kCounter, 3);
    const auto before = record;
    ExBuffer short_buffer{215, record.data(), 0};
    undecorate_channel_hw(0, 0, &short_buffer);
    ExBuffer negative{-1, record.data(), 0};
    undecorate_channel_hw(0, 0, &negative);
    ExBuffer no_data{216, nullptr, 0};
    undecorate_channel_hw(0, 0, &no_data);
    undecorate_channel_hw(0, 0, nullptr);
    EXPECT_EQ(record, before);
}

TEST_F(PluginTest, UndecoratingTheExtraRecordChangesNothing) {
    tolva::DeviceConfigRecord config{};
    std::vector<std::uint8_t> extra(64, 0x5a);
    ExBuffer buffer{static_cast<std::int32_t>(extra.size()), extra.data(), 0};
    undecorate_config_extra(&config, sizeof config, &buffer);
    EXPECT_EQ(extra, std::vector<std::uint8_t>(64, 0x5a));
    EXPECT_EQ(buffer.data, extra.data());
    EXPECT_EQ(buffer.size, 64);
    EXPECT_EQ(buffer.mustFree, 0);
    undecorate_config_extra(nullptr, 0, nullptr);
}

TEST(ExInterface, BufferLayoutIsTheSameInC) {
    std::size_t data_offset = 0;
    std::size_t must_free_offset = 0;
    EXPECT_EQ(ex_buffer_layout_in_c(&data_offset, &must_free_offset), sizeof(ExBuffer));
    EXPECT_EQ(data_offset, offsetof(ExBuffer, data));
    EXPECT_EQ(must_free_offset, offsetof(ExBuffer, mustFree));
}

}  // namespace
