#include "tolva_ex/records.h"

#include <gtest/gtest.h>

#include <vector>

#include "qvr/records/channel_record.h"

namespace {

namespace ft = tolva::file_type;

static_assert(tolva::kChannelRecordSize == qvr::kChannelRecordSize);
static_assert(tolva::kChannelKindOffset == offsetof(qvr::ChannelHead, Type));
static_assert(tolva::kAnalogHwOffset == offsetof(qvr::AnalogChannel, Analogue));
static_assert(tolva::kDigitalHwOffset == offsetof(qvr::DigitalChannel, Digital));
static_assert(sizeof(tolva::ChannelHwRecord) == sizeof(qvr::AnalogChannel::Analogue));

void put_u32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) image.at(offset + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void put_u16(std::vector<std::uint8_t>& image, std::size_t offset, std::uint16_t v) {
    image.at(offset) = static_cast<std::uint8_t>(v);
    image.at(offset + 1) = static_cast<std::uint8_t>(v >> 8);
}
template <typename T>
std::vector<std::uint8_t> bytes_of(const T& value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    return {p, p + sizeof value};
}

TEST(DeviceConfigRecord, MatchesTheOffsetTable) {
    tolva::DeviceConfigRecord r{};
    r.ScanRate = 250;
    r.Comm.BaudRate = 9600;
    std::memcpy(r.Comm.CommPort, "COM12", 5);
    r.Comm.ReadFirst = 1;
    r.Comm.ReadBack = 0;
    r.Comm.MaxRetries = 4;
    r.Comm.MaxEnquires = 6;
    r.Comm.ReplyTimeout = 8;
    r.Comm.ReplyAck = 40;

    std::vector<std::uint8_t> expected(704, 0);
    put_u32(expected, 0, 250);
    put_u32(expected, 4, 9600);
    std::memcpy(expected.data() + 8, "COM12", 5);
    expected[14] = 1;
    put_u32(expected, 16, 4);
    put_u32(expected, 20, 6);
    put_u32(expected, 24, 8);
    put_u32(expected, 28, 40);
    EXPECT_EQ(bytes_of(r), expected);

    // The communication block is bytes 4-31 of the record.
    const auto comm = bytes_of(r.Comm);
    EXPECT_EQ(comm, std::vector<std::uint8_t>(expected.begin() + 4, expected.begin() + 32));
}

TEST(DeviceConfigRecord, ReservedBytesAreCarriedUnchanged) {
    std::vector<std::uint8_t> image(704);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    put_u32(image, 4, 0);                 // baud rate to default
    std::memset(image.data() + 8, 0, 6);  // port to default
    tolva::DeviceConfigRecord r;
    std::memcpy(&r, image.data(), image.size());
    ASSERT_TRUE(tolva::apply_port_defaults(r.Comm, 3));
    tolva::apply_link_defaults(r.Comm);
    const auto after = bytes_of(r);
    EXPECT_TRUE(std::equal(after.begin() + 32, after.end(), image.begin() + 32));
    EXPECT_EQ(tolva::comm_port(r.Comm), "COM3");
    EXPECT_EQ(r.Comm.BaudRate, 19200u);
}

TEST(CommSettingsDefaults, PortAndBaudRate) {
    struct Case {
        std::string_view stored_port;
        std::int32_t number;
        bool ok;
        std::string_view port;
    };
    const Case cases[] = {
        {"", 7, true, "COM7"},     {"", 123, true, "COM123"},  // fills all six bytes
        {"", 1234, false, ""},                                 // would not fit
        {"COM2", 9, true, "COM2"}, {"ttyS1", 1234, true, "ttyS1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.stored_port) + " " + std::to_string(c.number));
        tolva::CommSettings comm{};
        std::memcpy(comm.CommPort, c.stored_port.data(), c.stored_port.size());
        EXPECT_EQ(tolva::apply_port_defaults(comm, c.number), c.ok);
        EXPECT_EQ(tolva::comm_port(comm), c.port);
        EXPECT_EQ(comm.BaudRate, c.ok ? 19200u : 0u);
    }

    tolva::CommSettings fast{};
    fast.BaudRate = 38400;
    std::memcpy(fast.CommPort, "COM1", 4);
    ASSERT_TRUE(tolva::apply_port_defaults(fast, 1));
    EXPECT_EQ(fast.BaudRate, 38400u);

    const auto name = tolva::default_comm_port(45);
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(*name, (tolva::CommPortName{'C', 'O', 'M', '4', '5', '\0'}));
}

TEST(CommSettingsDefaults, RetriesAndTimeOuts) {
    tolva::CommSettings zero{};
    tolva::apply_link_defaults(zero);
    EXPECT_EQ(zero.MaxRetries, 2u);
    EXPECT_EQ(zero.MaxEnquires, 3u);
    EXPECT_EQ(zero.ReplyTimeout, 5u);
    EXPECT_EQ(zero.ReplyAck, 20u);
    EXPECT_EQ(zero.BaudRate, 0u);

    tolva::CommSettings set{};
    set.MaxRetries = 9;
    set.MaxEnquires = 1;
    set.ReplyTimeout = 30;
    set.ReplyAck = 64;
    const auto before = bytes_of(set);
    tolva::apply_link_defaults(set);
    EXPECT_EQ(bytes_of(set), before);
}

TEST(ChannelHwRecord, MatchesTheOffsetTable) {
    tolva::ChannelHwRecord hw{};
    hw.StationNumber = 17;
    hw.FileType = ft::kInteger;
    hw.FileNumber = 0x0107;
    hw.ElementNumber = 0x0203;
    hw.SubElementNumber = -1;
    hw.MnemonicNumber = 0x0405;
    hw.SlotNumber = 0x0609;
    hw.Buffer = 0;

    std::vector<std::uint8_t> expected(16, 0);
    expected[0] = 17;
    expected[1] = 7;
    put_u16(expected, 2, 0x0107);
    put_u16(expected, 4, 0x0203);
    put_u16(expected, 6, 0xFFFF);
    put_u16(expected, 8, 0x0405);
    put_u16(expected, 10, 0x0609);
    EXPECT_EQ(bytes_of(hw), expected);
}

TEST(ChannelHwRecord, FileTypeNames) {
    const std::pair<std::string_view, std::int8_t> names[] = {
        {"Output (O)", 0}, {"Input (I)", 1},   {"Status (S)", 2},  {"Binary (B)", 3},
        {"Timer (T)", 4},  {"Counter (C)", 5}, {"Control (R)", 6}, {"Integer (N)", 7},
        {"Float (F)", 8},  {"Word(W)", 9},     {"USER", -1},
    };
    for (const auto& [name, value] : names) {
        EXPECT_EQ(tolva::file_type_name(value), name);
        EXPECT_EQ(tolva::file_type_from_name(name), value);
    }
    EXPECT_FALSE(tolva::file_type_name(13).has_value());
    EXPECT_FALSE(tolva::file_type_name(20).has_value());
    EXPECT_FALSE(tolva::file_type_from_name("word(w)").has_value());
    EXPECT_FALSE(tolva::file_type_from_name("Word (W)").has_value());
}

struct UndecorateCase {
    std::int8_t file_type;
    std::int16_t mnemonic;
    std::int8_t expected;
};

TEST(UndecorateChannelHw, CounterAndControlCodes) {
    const UndecorateCase cases[] = {
        {ft::kCounter, 3, 13},  // UN
        {ft::kCounter, 0, 10},
        {ft::kCounter, 7, 17},  // CU
        {ft::kControl, 0, 20},  // LEN
        {ft::kControl, 9, 29},  // EN
        {ft::kTimer, 2, ft::kTimer},
        {ft::kInteger, 3, ft::kInteger},
        {ft::kUser, 3, ft::kUser},
        // A mnemonic outside the type's table leaves the address as it is.
        {ft::kCounter, -1, ft::kCounter},
        {ft::kCounter, 8, ft::kCounter},
        {ft::kCounter, -4, ft::kCounter},
        {ft::kCounter, 0x0103, ft::kCounter},
        {ft::kControl, -1, ft::kControl},
        {ft::kControl, 10, ft::kControl},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.file_type) + " / " + std::to_string(c.mnemonic));
        tolva::ChannelHwRecord hw{3, c.file_type, 5, 2, -1, c.mnemonic, 2, 0};
        tolva::ChannelHwRecord expected = hw;
        expected.FileType = c.expected;
        tolva::undecorate_channel_hw(hw);
        EXPECT_EQ(bytes_of(hw), bytes_of(expected));
    }
}

TEST(UndecorateChannelHw, FindsTheAddressByTheRecordsLayout) {
    for (const auto kind :
         {qvr::ChannelKind::AI, qvr::ChannelKind::CI, qvr::ChannelKind::DI, qvr::ChannelKind::DO}) {
        SCOPED_TRACE(std::string(*qvr::channel_kind_name(kind)));
        qvr::ChannelRecord record{};
        std::memset(record.bytes, 0x33, sizeof record.bytes);
        record.head.Type = kind;
        const tolva::ChannelHwRecord hw{4, ft::kCounter, 5, 1, -1, 3, 1, 0};
        std::memcpy(qvr::hardware_part(record).data(), &hw, sizeof hw);

        qvr::ChannelRecord expected = record;
        expected.bytes[(qvr::is_digital(kind) ? 192 : 188) + 1] = 13;

        ASSERT_TRUE(tolva::undecorate_channel_record(record.bytes));
        EXPECT_EQ(record, expected);
        EXPECT_EQ(tolva::read_channel_hw(record.bytes)->FileType, 13);
    }
}

TEST(UndecorateChannelHw, ShortBufferIsLeftAlone) {
    std::vector<std::uint8_t> bytes(215, 0);
    bytes[189] = ft::kCounter;
    EXPECT_FALSE(tolva::undecorate_channel_record(bytes));
    EXPECT_EQ(bytes[189], ft::kCounter);
    EXPECT_FALSE(tolva::read_channel_hw(bytes).has_value());
    EXPECT_FALSE(tolva::write_channel_hw(bytes, tolva::ChannelHwRecord{}));
}

}  // namespace
