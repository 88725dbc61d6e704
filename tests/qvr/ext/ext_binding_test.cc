// The extension binding: where plug-ins are found, the device list, and every entry point
// through the full, the empty and the broken test plug-in.
#include "qvr/ext/ext.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/dynamic_library.h"
#include "plugins/test_plugin_records.h"
#include "platform/registry_key.h"
#include "qvr/settings/reg.h"
#include "qvr/diag/sink.h"
#include "qvr/diag/trace.h"
#include "qvr/testing/sink_testing.h"
#include "support/debug_capture.h"
#include "qvr/xml/xml.h"
#include "support/temp_dir.h"
#include "tslib/typed_mem.h"

namespace {

namespace fs = std::filesystem;
using qvr::ChannelRecord;
using qvr::Extension;
using namespace test_plugin;

fs::path bin_folder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

template <class T>
std::span<const std::uint8_t> bytes_of(const T& value) {
    return {reinterpret_cast<const std::uint8_t*>(&value), sizeof value};
}
template <class T>
std::span<std::uint8_t> bytes_of(T& value) {
    return {reinterpret_cast<std::uint8_t*>(&value), sizeof value};
}

ChannelRecord record_of(qvr::ChannelKind kind, const char* tag = "T1") {
    ChannelRecord r{};
    std::memcpy(r.head.Tag, tag, std::strlen(tag));
    r.head.Type = kind;
    return r;
}

// A configuration tree: <root>/CURRENT_CONFIG/<device folders>, and a QVR_BIN folder.
class ExtBindingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(config_ / "x");
        fs::create_directories(bin_);
        setenv("QVR_BIN", bin_.c_str(), 1);
    }
    std::string device(const std::string& name) {
        fs::create_directories(config_ / name);
        return (config_ / name).string();
    }
    void copy_plugin(const std::string& from, const fs::path& to) {
        fs::copy_file(bin_folder() / (from + "_ex.so"), to, fs::copy_options::overwrite_existing);
    }

    qvr_test::TempDir dir_;
    fs::path config_ = dir_ / "CURRENT_CONFIG";
    fs::path bin_ = dir_ / "BIN";
};

TEST(DevicePrefix, IsTheLastComponentCutAtItsLastUnderscore) {
    struct Case {
        const char* dir;
        const char* prefix;
        const char* prefix5;
    } cases[] = {
        {"/opt/q/CURRENT_CONFIG/tolva_3", "tolva", "tolva"},
        {"C:\\q\\CURRENT_CONFIG\\tolva_3", "tolva", "tolva"},
        {"/q/tolva_3/", "tolva", "tolva"},
        {"/q/calc12_1", "calc", "calc"},
        {"/q/CALC7_2", "calc", "calc"},
        {"/q/calcx_1", "calcx", "calcx"},
        {"/q/calc_1", "calc", "calc"},
        {"/q/opddx3_1", "opddx", "opddx"},
        {"/q/opddx3a_1", "opddx3a", "opddx"},
        {"/q/my_type_4", "my_type", "my_ty"},
        {"/q/longprefix_1", "longprefix", "longp"},
        {"plain", "plain", "plain"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qvr::device_prefix(c.dir), c.prefix) << c.dir;
        EXPECT_EQ(qvr::device_prefix5(c.dir), c.prefix5) << c.dir;
    }
}

TEST_F(ExtBindingTest, APluginBesideTheCallerIsFoundByItsLowerCasePrefix) {
    Extension e = Extension::load(device("TVALL_1"));
    ASSERT_TRUE(e.loaded());
    EXPECT_EQ(fs::path(e.path()), bin_folder() / "tvall_ex.so");
    EXPECT_TRUE(e.has_xml());
    void* library = ext_LoadExtension(device("tvnon_2").c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_NE(platform::library_symbol(library, "tvnon_marker"), nullptr);
    ext_FreeExtension(library);
    EXPECT_EQ(ext_LoadExtension(device("nothing_1").c_str()), nullptr);
}

TEST_F(ExtBindingTest, TheRealPluginHasNoXmlSupport) {
    std::string tolva = device("tolva_3");
    EXPECT_EQ(ext_HasXmlSupport(tolva.c_str()), 0);
    Extension e = Extension::load(tolva);
    ASSERT_TRUE(e.loaded());
    EXPECT_FALSE(e.has_xml());
    std::array<std::uint8_t, 704> config{};
    qvr::ExtType type = e.config_type(config);
    ASSERT_TRUE(type);
    EXPECT_EQ(type->size, 704u);
}

TEST_F(ExtBindingTest, TheBinFolderComesNextButNeverTheCurrentFolder) {
    copy_plugin("tvall", bin_ / "tvqbn_ex.so");
    Extension from_bin = Extension::load(device("tvqbn_1"));
    ASSERT_TRUE(from_bin.loaded());
    EXPECT_EQ(fs::path(from_bin.path()), bin_ / "tvqbn_ex.so");

    fs::path here = dir_ / "cwd";
    fs::create_directories(here / "tvcwd_1");
    copy_plugin("tvall", here / "tvcwd_ex.so");
    ASSERT_EQ(::chdir(here.c_str()), 0);
    EXPECT_FALSE(Extension::load("tvcwd_1").loaded());
    EXPECT_FALSE(Extension::load("./tvcwd_1").loaded());
}

TEST_F(ExtBindingTest, TheProcessorListGivesTheGeneralPlugins) {
    copy_plugin("tvall", bin_ / "usera_ex.so");
    copy_plugin("tvnon", bin_ / "userd_ex.so");
    qvr_test::write_file(config_ / "datproc.txt",
                         "* processors\r\n"
                         "TVDAT,Data Processor,A-TD:10,run\r\n"
                         "tvdig,,D-TG:5\r\n"
                         "MODBX,,Z-MB:3\r\n"
                         "usera,,D-UA:4\r\n"
                         "TVINV,,X-TI:5\r\n"
                         "TVCNT,,A-TC:70000\r\n");
    struct Case {
        const char* device;
        const char* plugin;  // null: none
    } cases[] = {
        {"tvdat_1", "usera_ex.so"}, {"TVDIG_2", "userd_ex.so"}, {"modbx_1", "userd_ex.so"},
        {"usera_1", "usera_ex.so"}, {"tvinv_1", nullptr},       {"tvcnt_1", nullptr},
        {"tvnot_1", nullptr},
    };
    for (const Case& c : cases) {
        Extension e = Extension::load(device(c.device));
        if (c.plugin == nullptr) {
            EXPECT_FALSE(e.loaded()) << c.device;
        } else {
            ASSERT_TRUE(e.loaded()) << c.device;
            EXPECT_EQ(fs::path(e.path()), bin_ / c.plugin) << c.device;
        }
    }
    EXPECT_FALSE(Extension::load(device("tvdat_1"), false).loaded());
}

TEST_F(ExtBindingTest, TheXmlAnswerIsKeptForTheLastFolder) {
    copy_plugin("tvall", bin_ / "tvqxm_ex.so");
    std::string dir = device("tvqxm_1");
    EXPECT_EQ(ext_HasXmlSupport(dir.c_str()), 1);
    fs::remove(bin_ / "tvqxm_ex.so");
    std::string other_case = dir.substr(0, dir.size() - 7) + "TVQXM_1";
    EXPECT_EQ(ext_HasXmlSupport(other_case.c_str()), 1) << "kept";
    EXPECT_EQ(ext_HasXmlSupport(device("tvnon_1").c_str()), 0);
    EXPECT_EQ(ext_HasXmlSupport(dir.c_str()), 0) << "asked again after another folder";
    EXPECT_EQ(ext_HasXmlSupport(nullptr), 0);
}

TEST_F(ExtBindingTest, DescriptionsKeepTheirPluginLoaded) {
    qvr::ExtType type;
    {
        Extension e = Extension::load(device("tvall_1"));
        Config config{};
        type = e.config_type(bytes_of(config));
    }
    ASSERT_TRUE(type);
    EXPECT_EQ(fs::path(platform::library_path_of(type.get())), bin_folder() / "tvall_ex.so");
    EXPECT_STREQ(type->name, "structure");
    char* rate = structs_get_field_text(type.get(), "Mode", std::array<std::uint8_t, 28>{}.data(), "test");
    EXPECT_STREQ(rate, "Auto");
    typed_mem_release("test", rate);
}

TEST(DeviceList, SkipsCommentsAndBlanksAndDropsTheRestOfALongLine) {
    qvr_test::TempDir dir;
    std::string long_line = "LONG," + std::string(600, 'a') + ",TAIL\n";
    qvr_test::write_file(
        dir / "DATPROC.TXT",
        "* comment\n\n   \n  * indented comment\r\nONE,First,A-AB:2,run\r\n" + long_line + "TWO,,D-CD:3\n");
    ASSERT_EQ(ext_OpenDeviceList((dir / "DATPROC.TXT").c_str()), 3);
    DeviceListField fields[5];
    ASSERT_EQ(ext_NextDeviceListEntry(fields, 5), 4);
    EXPECT_STREQ(fields[0], "ONE");
    EXPECT_STREQ(fields[3], "run");
    ASSERT_EQ(ext_NextDeviceListEntry(fields, 5), 2);
    EXPECT_STREQ(fields[0], "LONG");
    EXPECT_EQ(std::strlen(fields[1]), 495u) << "cut at 500 characters";
    EXPECT_EQ(std::strlen(ext_DeviceListLine()), kDeviceListLineMax);
    ASSERT_EQ(ext_NextDeviceListEntry(fields, 2), 2) << "at most the capacity";
    EXPECT_STREQ(fields[0], "TWO");
    EXPECT_STREQ(fields[1], "");
    EXPECT_EQ(ext_NextDeviceListEntry(fields, 5), 0);
    // The end rewinds.
    EXPECT_EQ(ext_ReadDeviceListLine(), 1);
    EXPECT_STREQ(ext_DeviceListLine(), "ONE,First,A-AB:2,run");
    // The list belongs to this thread.
    int other = -1;
    std::thread([&] { other = ext_ReadDeviceListLine(); }).join();
    EXPECT_EQ(other, 0);
    ext_CloseDeviceList();
    EXPECT_EQ(ext_ReadDeviceListLine(), 0);
    EXPECT_EQ(ext_OpenDeviceList((dir / "none.txt").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(ProcessorLine, FollowsTheListRules) {
    struct Case {
        std::vector<std::string> fields;
        const char* message;  // null: valid
        int type;
    } cases[] = {
        {{"TVDAT", "Data", "A-TD:10", "run"}, nullptr, 2},
        {{"tvdat", "", "d-TD:10"}, nullptr, 3},
        {{"modbus", "", "Q-MB:7"}, nullptr, 6},
        {{"USERA", "", "D-UA:1"}, nullptr, 2},
        {{"NOSPEC"}, nullptr, 3},
        {{"ALARM", "", "", "RUN"}, nullptr, 3},
        {{""}, "no processor name specified", 0},
        {{"NINECHARS"}, "processor name too long", 0},
        {{"P", std::string(25, 'p')}, "processor print name too long", 0},
        {{"P", "", "X-AB:1"}, "channel type must be A or D", 0},
        {{"P", "", "A-1B:1"}, "invalid channel prefix", 0},
        {{"P", "", "A-AB"}, "invalid number of channels", 0},
        {{"P", "", "A-AB:62501"}, "invalid number of channels", 0},
        {{"P", "", "A-AB:x"}, "invalid number of channels", 0},
        {{"ALARM", "", "1001", "run"}, "invalid number of alarm queue entries", 0},
    };
    for (const Case& c : cases) {
        qvr::ProcessorLine line;
        std::string message;
        bool ok = qvr::check_processor_line(c.fields, line, message);
        if (c.message == nullptr) {
            EXPECT_TRUE(ok) << c.fields[0] << ": " << message;
            EXPECT_EQ(line.type, c.type) << c.fields[0];
        } else {
            EXPECT_FALSE(ok) << c.fields[0];
            EXPECT_EQ(message, c.message) << c.fields[0];
        }
    }
    qvr::ProcessorLine line;
    std::string message;
    ASSERT_TRUE(qvr::check_processor_line(std::vector<std::string>{"ALARM", "", "", "run"}, line, message));
    EXPECT_EQ(line.alarm_queue, 256);
    ASSERT_TRUE(qvr::check_processor_line(std::vector<std::string>{"tvdat", "", "A-TD:10"}, line, message));
    EXPECT_EQ(line.name, "TVDAT");
    EXPECT_EQ(line.print_name, "tvdat");
    EXPECT_EQ(line.prefix, "TD");
    EXPECT_EQ(line.channel_count, 10);
}

TEST_F(ExtBindingTest, TheFullPluginConvertsValidatesAndDescribes) {
    Extension e = Extension::load(device("tvall_1"));
    ASSERT_TRUE(e.loaded());

    Config config{7, 1, "Line A", 500};
    EXPECT_EQ(e.config_type(bytes_of(config)).get()->size, sizeof(DecoratedConfig));
    EXPECT_EQ(e.decorated_config_size(sizeof config), sizeof(DecoratedConfig));
    std::vector<std::uint8_t> xml_side = e.undecorate_config(bytes_of(config));
    ASSERT_EQ(xml_side.size(), sizeof(DecoratedConfig));
    DecoratedConfig decorated;
    std::memcpy(&decorated, xml_side.data(), sizeof decorated);
    EXPECT_EQ(decorated.Station, 7u);
    EXPECT_EQ(decorated.Rate, 500u);
    std::array<std::uint8_t, 704> scratch{};
    ASSERT_TRUE(e.decorate_config(xml_side, scratch));
    EXPECT_EQ(std::memcmp(scratch.data(), &config, sizeof config), 0);

    qvr::FoundFieldList found;
    found.add("Station");
    std::string message;
    EXPECT_EQ(e.validate_device(found, bytes_of(config), message), -1);
    EXPECT_EQ(message, "Rate Required");
    found.add("Rate");
    EXPECT_TRUE(found.contains("Rate"));
    EXPECT_FALSE(found.contains("Rat"));
    EXPECT_STREQ(found.c_str(), ",Station,Rate,");
    EXPECT_EQ(e.validate_device(found, bytes_of(config), message), 0);

    ConfigExtra extra{21, "fine"};
    EXPECT_EQ(e.config_extra_file_offset(bytes_of(extra)), 16u);
    EXPECT_NE(e.entry("Ex_Get_Config_Extra_FileName"), nullptr);
    EXPECT_TRUE(e.config_extra_type(bytes_of(config), bytes_of(extra)));
    ASSERT_TRUE(e.decorate_config_extra(bytes_of(config), bytes_of(extra)));
    EXPECT_EQ(extra.Spare, 42u);
    std::vector<std::uint8_t> extra_xml = e.undecorate_config_extra(bytes_of(config), bytes_of(extra));
    ASSERT_EQ(extra_xml.size(), sizeof extra);
    EXPECT_EQ(reinterpret_cast<const ConfigExtra*>(extra_xml.data())->Spare, 21u);
    EXPECT_EQ(extra.Spare, 42u) << "the caller's record is not touched";
    std::strcpy(extra.Note, "bad");
    EXPECT_EQ(e.validate_device_extra(found, bytes_of(config), bytes_of(extra), message), -1);
    EXPECT_EQ(message, "Note bad refused");

    ChannelRecord analog = record_of(qvr::ChannelKind::AI);
    ChannelRecord digital = record_of(qvr::ChannelKind::DI);
    std::memcpy(analog.bytes + kAnalogHwOffset + offsetof(AnalogHw, Address), "n7:1", 4);
    auto layout = e.channel_layout(0, 0, analog, false);
    ASSERT_TRUE(layout->typed_hardware());
    char* station = structs_get_field_text(&layout->type(), "Analogue.Address", analog.bytes, "test");
    EXPECT_STREQ(station, "n7:1");
    typed_mem_release("test", station);
    EXPECT_TRUE(e.channel_layout(0, 1, digital, true)->typed_hardware());
    EXPECT_EQ(e.channel_hw_type(0, 1, digital, true)->size, sizeof(DigitalHw));
    ASSERT_TRUE(e.decorate_channel_hw(0, 0, analog));
    EXPECT_EQ(std::memcmp(analog.bytes + kAnalogHwOffset + 1, "N7:1", 4), 0);
    ChannelRecord written = e.undecorate_channel_hw(0, 0, analog);
    EXPECT_EQ(std::memcmp(written.bytes + kAnalogHwOffset + 1, "n7:1", 4), 0);
    EXPECT_EQ(std::memcmp(analog.bytes + kAnalogHwOffset + 1, "N7:1", 4), 0);

    ChannelExtra shares[2] = {{1.5f, 3}, {2.5f, 4}};
    auto all = bytes_of(shares);
    EXPECT_TRUE(e.channel_extra_type(0, 0, analog));
    EXPECT_EQ(e.channel_extra_size(0, 0, analog, all), sizeof(ChannelExtra));
    ASSERT_NE(e.channel_extra_struct(0), nullptr);
    *static_cast<ChannelExtra*>(e.channel_extra_struct(0)) = shares[0];  // as the loader fills it
    ASSERT_TRUE(e.decorate_channel_extra(0, 0, analog, all.subspan(0, sizeof(ChannelExtra))));
    EXPECT_EQ(shares[0].Code, 1003) << "the plug-in's own block copied back";
    EXPECT_EQ(shares[1].Code, 4);
    std::vector<std::uint8_t> extra_share = e.undecorate_channel_extra(0, 0, analog, all.subspan(0, 8));
    EXPECT_EQ(reinterpret_cast<const ChannelExtra*>(extra_share.data())->Code, 3);
    EXPECT_EQ(e.validate_chan_extra(found, analog, all.subspan(0, 4), message), -1);
    EXPECT_EQ(message, "extra data short");

    ChannelRecord bad = record_of(qvr::ChannelKind::AI, "BAD");
    EXPECT_EQ(e.validate_chan(found, analog, message), 0);
    EXPECT_EQ(e.validate_chan(found, bad, message), -1);
    EXPECT_EQ(message, "tag BAD refused");
    EXPECT_TRUE(e.mixed_channel_type());
}

TEST_F(ExtBindingTest, WithoutPluginOrEntriesEveryOperationTakesItsDefaultPath) {
    Extension none;
    Extension empty = Extension::load(device("tvnon_1"));
    ASSERT_TRUE(empty.loaded());
    for (const Extension* e : {&none, &empty}) {
        Config config{7, 1, "Line A", 500};
        EXPECT_FALSE(e->has_xml());
        EXPECT_FALSE(e->config_type(bytes_of(config)));
        EXPECT_EQ(e->decorated_config_size(24), std::nullopt);
        std::array<std::uint8_t, 704> scratch{};
        EXPECT_FALSE(e->decorate_config(scratch, scratch));
        std::vector<std::uint8_t> copy = e->undecorate_config(bytes_of(config));
        EXPECT_EQ(std::memcmp(copy.data(), &config, sizeof config), 0);
        ConfigExtra extra{21, "n"};
        EXPECT_EQ(e->config_extra_file_offset(bytes_of(extra)), 0u);
        EXPECT_FALSE(e->config_extra_type(bytes_of(config), bytes_of(extra)));
        EXPECT_FALSE(e->decorate_config_extra(bytes_of(config), bytes_of(extra)));
        EXPECT_EQ(e->undecorate_config_extra(bytes_of(config), bytes_of(extra)).size(), sizeof extra);
        std::string message;
        qvr::FoundFieldList found;
        EXPECT_EQ(e->validate_device(found, bytes_of(config), message), 0);
        EXPECT_EQ(e->validate_device_extra(found, bytes_of(config), bytes_of(extra), message), 0);

        ChannelRecord r = record_of(qvr::ChannelKind::DO);
        auto layout = e->channel_layout(3, 0, r, true);
        EXPECT_FALSE(layout->typed_hardware());
        char* hex = structs_get_field_text(&layout->type(), "Digital", r.bytes, "test");
        EXPECT_EQ(std::strlen(hex), 48u) << "the plain 24-byte part";
        typed_mem_release("test", hex);
        EXPECT_FALSE(e->decorate_channel_hw(3, 0, r));
        EXPECT_TRUE(e->undecorate_channel_hw(3, 0, r) == r);
        EXPECT_FALSE(e->channel_extra_type(3, 0, r));
        EXPECT_EQ(e->channel_extra_size(3, 0, r, bytes_of(extra)), std::nullopt);
        EXPECT_EQ(e->channel_extra_struct(3), nullptr);
        EXPECT_FALSE(e->decorate_channel_extra(3, 0, r, bytes_of(extra)));
        EXPECT_EQ(e->validate_chan(found, r, message), 0);
        EXPECT_EQ(e->validate_chan_extra(found, r, bytes_of(extra), message), 0);
        EXPECT_FALSE(e->mixed_channel_type());
        void* const args[7] = {};
        EXPECT_EQ(e->validate_chan_with_config(args, message), 0);
    }
}

TEST_F(ExtBindingTest, TheBrokenPluginCannotMakeTheCallerWritePastItsBuffers) {
    Extension e = Extension::load(device("tvbad_1"));
    ASSERT_TRUE(e.loaded());
    // Each block the caller hands over sits between guard bytes.
    struct Guarded {
        std::uint8_t before[64];
        ChannelRecord record;
        std::uint8_t after[64];
    } g{};
    std::memset(g.before, 0x11, sizeof g.before);
    std::memset(g.after, 0x22, sizeof g.after);
    auto guards_intact = [&] {
        for (std::uint8_t b : g.before)
            if (b != 0x11) return false;
        for (std::uint8_t b : g.after)
            if (b != 0x22) return false;
        return true;
    };
    g.record = record_of(qvr::ChannelKind::AI);

    ASSERT_TRUE(e.decorate_channel_hw(0, 0, g.record));
    EXPECT_TRUE(guards_intact());
    EXPECT_EQ(g.record.bytes[215], 0xCD) << "216 bytes of the plug-in's 1000 taken";
    ChannelRecord written = e.undecorate_channel_hw(0, 0, g.record);
    EXPECT_TRUE(written == g.record) << "a must-free flag on the caller's own block is ignored";
    EXPECT_FALSE(e.channel_hw_type(0, 0, g.record, false)) << "100 bytes do not fit the 28 left";
    EXPECT_FALSE(e.channel_layout(0, 0, g.record, true)->typed_hardware());

    std::span<std::uint8_t> share(g.record.bytes, 40);
    EXPECT_EQ(e.channel_extra_size(0, 0, g.record, share), 40u) << "cut to the bytes left";
    EXPECT_EQ(e.channel_extra_size(0, 1, g.record, share), 0u) << "a negative size counts nothing";
    ASSERT_TRUE(e.decorate_channel_extra(0, 0, g.record, share));
    EXPECT_EQ(g.record.bytes[39], 0xEE);
    EXPECT_NE(g.record.bytes[40], 0xEE);
    EXPECT_TRUE(guards_intact());
    EXPECT_EQ(e.undecorate_channel_extra(0, 0, g.record, share).size(), Extension::kMaxBlock);

    Config config{};
    EXPECT_EQ(e.decorated_config_size(sizeof config), std::nullopt);
    std::array<std::uint8_t, 704> scratch{};
    EXPECT_TRUE(e.decorate_config(scratch, scratch));
    EXPECT_EQ(e.undecorate_config(bytes_of(config)).size(), Extension::kMaxBlock);
    ConfigExtra extra{5, "n"};
    EXPECT_EQ(e.config_extra_file_offset(bytes_of(extra)), std::nullopt);
    ASSERT_TRUE(e.decorate_config_extra(bytes_of(config), bytes_of(extra)));
    EXPECT_EQ(extra.Spare, 5u);
    EXPECT_TRUE(e.undecorate_config_extra(bytes_of(config), bytes_of(extra)).empty());

    std::string message;
    qvr::FoundFieldList found;
    EXPECT_EQ(e.validate_device(found, bytes_of(config), message), -1);
    EXPECT_EQ(message, std::string(QVR_EX_ERROR_MAX - 1, 'x')) << "an unended text is ended";
    EXPECT_EQ(e.validate_device_extra(found, bytes_of(config), bytes_of(extra), message), -1);
    EXPECT_EQ(e.validate_chan(found, g.record, message), -1);
    EXPECT_EQ(message, "");
    EXPECT_EQ(e.validate_chan_extra(found, g.record, share, message), 0) << "only -1 means invalid";
    EXPECT_FALSE(e.mixed_channel_type()) << "only 1 means mixed";
}

TEST_F(ExtBindingTest, AHardwareDescriptionMayReachTheRecordsEndButNotPast) {
    // The first channel's description ends at the record's end, a later one's a byte past it.
    Extension e = Extension::load(device("tvbig_1"));
    ASSERT_TRUE(e.loaded());
    struct Case {
        qvr::ChannelKind kind;
        int index;
        bool used;
        std::size_t hex_digits;
    };
    const Case cases[] = {
        {qvr::ChannelKind::AI, 0, true, 2 * 28},
        {qvr::ChannelKind::AI, 1, false, 2 * 16},
        {qvr::ChannelKind::DI, 0, true, 2 * 24},
        {qvr::ChannelKind::DI, 1, false, 2 * 24},
    };
    for (const Case& c : cases) {
        const bool digital = qvr::is_digital(c.kind);
        SCOPED_TRACE((digital ? "digital #" : "analog #") + std::to_string(c.index));
        const ChannelRecord r = record_of(c.kind);
        const int kind = static_cast<int>(c.kind);
        EXPECT_EQ(static_cast<bool>(e.channel_hw_type(kind, c.index, r, digital)), c.used);
        auto layout = e.channel_layout(kind, c.index, r, digital);
        EXPECT_EQ(layout->typed_hardware(), c.used);
        char* hex =
            structs_get_field_text(&layout->type(), digital ? "Digital" : "Analogue", r.bytes, "test");
        ASSERT_NE(hex, nullptr);
        EXPECT_EQ(std::strlen(hex), c.hex_digits);
        typed_mem_release("test", hex);
    }
}

TEST_F(ExtBindingTest, ChannelAgainstConfigurationUsesTheCurrentFolder) {
    std::vector<qvr::SinkEntry> reports;
    qvr::set_sink_capture([&](const qvr::SinkEntry& entry) { reports.push_back(entry); });
    int channel = 7;
    int b = 0, c = 0, d = 0, f = 0, g = 0, h = 0;
    ASSERT_EQ(::chdir(device("tvall_4").c_str()), 0);
    // Held here, so the call below binds the same loaded copy whose record we read after.
    Extension e = Extension::load(device("tvall_4"));
    xml_ResetStatus();
    xml_SetSubject("tvall_4");
    xml_SetOperation("ai Channel #7");
    EXPECT_EQ(cfg_ValidateChannelWithConfig(&channel, &b, &c, &d, &f, &g, &h), -1);
    EXPECT_EQ(errno, 1465);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].server, ".");
    EXPECT_EQ(reports[0].type, 1);
    EXPECT_EQ(reports[0].message, "tvall_4ai Channel #7 - channel 7 clashes with the configuration");
    EXPECT_LT(xml_GetStatus(), 0);

    auto last = reinterpret_cast<const SevenArgs* (*)()>(e.entry("tvall_last_args"));
    ASSERT_NE(last, nullptr);
    void* expected[7] = {&channel, &b, &c, &d, &f, &g, &h};
    EXPECT_EQ(std::memcmp(last()->args, expected, sizeof expected), 0) << "passed through unchanged";

    channel = 8;
    xml_ResetStatus();
    EXPECT_EQ(cfg_ValidateChannelWithConfig(&channel, &b, &c, &d, &f, &g, &h), 0);
    ASSERT_EQ(::chdir(device("tvnon_4").c_str()), 0);
    channel = 7;
    EXPECT_EQ(cfg_ValidateChannelWithConfig(&channel, &b, &c, &d, &f, &g, &h), 0);
    // No device-list fallback here.
    copy_plugin("tvall", bin_ / "usera_ex.so");
    qvr_test::write_file(config_ / "DATPROC.TXT", "TVDAT,,A-TD:10\n");
    ASSERT_EQ(::chdir(device("tvdat_1").c_str()), 0);
    EXPECT_EQ(cfg_ValidateChannelWithConfig(&channel, &b, &c, &d, &f, &g, &h), 0);
    EXPECT_EQ(reports.size(), 1u);
    qvr::set_sink_capture({});
}

}  // namespace

TEST_F(ExtBindingTest, APluginThatCannotBeLoadedIsTracedAsAWholeLine) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("EXTEST_Debug", "ON"), 0);
    qvr_test::DebugCapture capture;
    trace_Create("EXTEST");
    {
        std::FILE* junk = std::fopen((bin_ / "tvjnk_ex.so").c_str(), "w");
        ASSERT_NE(junk, nullptr);
        std::fputs("not a library", junk);
        std::fclose(junk);
    }
    EXPECT_FALSE(Extension::load(device("tvjnk_1")).loaded());
    trace_Destroy();
    const auto lines = capture.lines("tvjnk_ex.so cannot be loaded");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("\n")) << lines[0];
}
