// Output writes against controllers whose own program changes the same data tables: after
// every scan the bits and words no channel owns hold what the program put there, and the
// owned ones hold the host's values. The stand-in's command log shows how each write went.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "controller/data_address.h"
#include "pccc_test_support.h"
#include "tolva_sc/kind_handlers.h"

namespace {

using pccc_test::channel;
using pccc_test::hw;
using sim_controller::ControllerNetwork;
namespace kind = tolva::kind;
using Step = ControllerNetwork::StepKind;

constexpr uint8_t kTyped = 1;      // a processor with a directory: typed commands
constexpr uint8_t kWordRange = 2;  // word-range commands only

struct Output {
    int kind;  // kind::kAO or kind::kDO
    tolva::ChannelHwRecord address;
    const char* at;  // the same place in the controller's notation
};

struct ProgramStep {
    uint8_t station;
    const char* at;
    Step step;
    int amount = 1;
};

struct WriteCase {
    const char* name;
    std::vector<Output> outputs;
    std::vector<ProgramStep> program;
    std::vector<std::vector<float>> host;  // per scan, a value per output (DO: 0 or 1)
    bool read_first = false;
    bool read_back = false;
    // The writes of the last scan, as the command log shows them; empty: not checked.
    std::vector<std::string> last_writes;
};

// The files both stations hold, with their element counts.
const std::vector<std::pair<const char*, size_t>> kFiles = {{"O0", 8},  {"S2", 10}, {"B3", 10}, {"T4", 20},
                                                            {"C5", 10}, {"R6", 10}, {"N7", 50}};

struct FileWord {
    uint8_t station;
    uint16_t file;
    size_t word;
    bool operator<(const FileWord& o) const {
        return std::tie(station, file, word) < std::tie(o.station, o.file, o.word);
    }
};

// Both stations with their files, and the scanner's command layer, stations and handlers.
struct WriteRig {
    WriteRig() {
        network.add_station(kTyped, 0x4E);
        network.set_directory(kTyped, {{0, 4, 0}, {2, 4, 2}});
        network.add_station(kWordRange, 0x49);
        for (const uint8_t s : {kTyped, kWordRange}) {
            for (const auto& [name, count] : kFiles) {
                const auto a = sim_controller::parse_data_address(std::string(name) + ":0");
                network.add_file(s, a->file, a->file_type, count);
            }
        }
    }

    // Every word of every file, by station, file and word.
    std::map<FileWord, uint16_t> snapshot() const {
        std::map<FileWord, uint16_t> words;
        for (const uint8_t s : {kTyped, kWordRange}) {
            for (const auto& [name, count] : kFiles) {
                const auto a = sim_controller::parse_data_address(std::string(name) + ":0");
                const auto bytes = network.element_bytes(s, a->file, 0, static_cast<uint16_t>(count));
                for (size_t w = 0; w < bytes->size() / 2; ++w) {
                    words[{s, a->file, w}] =
                        static_cast<uint16_t>((*bytes)[2 * w] | (*bytes)[2 * w + 1] << 8);
                }
            }
        }
        return words;
    }

    // The bits the case's outputs own, per word.
    static std::map<FileWord, uint16_t> owned_bits(const WriteCase& c) {
        std::map<FileWord, uint16_t> owned;
        for (const auto& o : c.outputs) {
            const auto a = sim_controller::parse_data_address(o.at);
            const size_t words = static_cast<size_t>(sim_controller::file_element_size(a->file_type) / 2);
            uint16_t& mask = owned[{o.address.StationNumber, a->file, a->element * words + a->word}];
            mask = a->bit ? static_cast<uint16_t>(mask | 1u << *a->bit) : uint16_t{0xFFFF};
        }
        return owned;
    }

    void run(const WriteCase& c) {
        SCOPED_TRACE(c.name);
        config.Comm.ReadFirst = c.read_first ? 1 : 0;
        config.Comm.ReadBack = c.read_back ? 1 : 0;
        for (const auto& p : c.program)
            ASSERT_TRUE(network.add_program_step(p.station, p.at, p.step, p.amount));
        std::array<std::vector<qvr::ChannelRecord>, 4> records;
        std::array<std::vector<size_t>, 4> of_kind;  // output indexes per kind
        for (size_t i = 0; i < c.outputs.size(); ++i) {
            const int k = c.outputs[i].kind;
            records[static_cast<size_t>(k)].push_back(channel(k, c.outputs[i].address));
            of_kind[static_cast<size_t>(k)].push_back(i);
        }
        std::array<std::vector<uint32_t>, 4> status;
        std::array<std::vector<float>, 4> values;
        for (const int k : {kind::kDO, kind::kAO}) {
            const auto i = static_cast<size_t>(k);
            // Failed, as the device's open leaves every channel.
            status[i].assign(records[i].size(), 0x20);
            values[i].assign(k == kind::kAO ? records[i].size() : 0, 0.0f);
            if (!records[i].empty()) {
                ASSERT_EQ(handlers.init(k, config, records[i]), 0);
            }
        }
        const auto owned = owned_bits(c);
        for (size_t scan = 0; scan < c.host.size(); ++scan) {
            SCOPED_TRACE("scan " + std::to_string(scan));
            network.run_programs();
            const auto before = snapshot();
            for (const int k : {kind::kDO, kind::kAO}) {
                const auto i = static_cast<size_t>(k);
                for (size_t n = 0; n < of_kind[i].size(); ++n) {
                    const float v = c.host[scan][of_kind[i][n]];
                    if (k == kind::kAO) {
                        values[i][n] = v;
                    } else {
                        status[i][n] = v != 0 ? (status[i][n] | 1u) : (status[i][n] & ~1u);
                    }
                }
            }
            network.clear_commands();
            handlers.begin_scan();
            for (const int k : {kind::kDO, kind::kAO}) {
                const auto i = static_cast<size_t>(k);
                if (!records[i].empty()) {
                    ASSERT_EQ(handlers.scan(k, config, records[i], status[i], values[i]), 0);
                }
            }
            const auto after = snapshot();
            const bool reads_first = c.read_first && scan == 0;
            for (const auto& [where, word] : after) {
                const auto it = owned.find(where);
                const uint16_t mask = reads_first || it == owned.end() ? 0 : it->second;
                EXPECT_EQ(word & ~mask, before.at(where) & ~mask)
                    << "station " << int(where.station) << " file " << where.file << " word " << where.word;
            }
            for (size_t o = 0; o < c.outputs.size() && !reads_first; ++o) {
                const float wanted = c.host[scan][o];
                EXPECT_EQ(network.value(c.outputs[o].address.StationNumber, c.outputs[o].at), wanted)
                    << c.outputs[o].at;
            }
            for (const int k : {kind::kDO, kind::kAO}) {
                for (const uint32_t s : status[static_cast<size_t>(k)]) EXPECT_EQ(s & 0x20, 0u);
            }
        }
        if (c.last_writes.empty()) return;
        std::vector<std::string> writes;
        for (const auto& command : network.commands()) {
            if (command.is_write()) writes.push_back(command.text());
        }
        EXPECT_EQ(writes, c.last_writes);
    }

    ControllerNetwork network;
    pccc_test::NetworkLink link{network};
    tolva::PcccCommands commands{link, [] { return true; }};
    tolva::StationTable table{commands, [] { return int64_t{0}; }, [](std::string_view) {}};
    tolva::KindHandlers handlers{commands, table};
    tolva::DeviceConfigRecord config{};
};

// A DO on bit 3 of B3:1 while the program toggles bit 6 of the same word and counts in B3:2.
WriteCase binary_bit(const char* name, bool read_first, bool read_back) {
    return {name,
            {{kind::kDO, hw(kTyped, 3, 3, 1, 3), "B3:1/3"}},
            {{kTyped, "B3:1/6", Step::toggle}, {kTyped, "B3:2", Step::add, 7}},
            {{1}, {0}, {1}},
            read_first,
            read_back,
            {"S1 0F/AB file 3 element 1 size 2 mask 0008 data 08 00 -> STS 00"}};
}

std::vector<WriteCase> write_cases() {
    std::vector<WriteCase> cases;
    cases.push_back(binary_bit("B bit", false, false));
    cases.push_back(binary_bit("B bit, ReadBack", false, true));
    cases.push_back(binary_bit("B bit, ReadFirst", true, false));
    cases.push_back(binary_bit("B bit, ReadFirst and ReadBack", true, true));
    cases.push_back({"S bit",
                     {{kind::kDO, hw(kTyped, 2, 2, 1, 5), "S2:1/5"}},
                     {{kTyped, "S2:1/9", Step::toggle}, {kTyped, "S2:4", Step::add, 1}},
                     {{1}, {0}},
                     false,
                     false,
                     {"S1 0F/AB file 2 element 1 size 2 mask 0020 data 00 00 -> STS 00"}});
    // Slot 1 of the directory begins at output word 2.
    cases.push_back({"O bit",
                     {{kind::kDO, hw(kTyped, 0, 0, 0, 1, -1, 1), "O0:2/1"}},
                     {{kTyped, "O0:2/7", Step::toggle}},
                     {{1}, {0}},
                     false,
                     false,
                     {"S1 0F/AB file 0 element 2 size 2 mask 0002 data 00 00 -> STS 00"}});
    cases.push_back({"N word of a DO, next to a counting word",
                     {{kind::kDO, hw(kTyped, 7, 7, 4), "N7:4"}},
                     {{kTyped, "N7:5", Step::add, 3}, {kTyped, "N7:3", Step::toggle}},
                     {{1}, {0}},
                     false,
                     false,
                     {"S1 0F/AA file 7 element 4 size 2 data 00 00 -> STS 00"}});
    cases.push_back(
        {"two bits of one word in one scan",
         {{kind::kDO, hw(kTyped, 3, 3, 1, 3), "B3:1/3"}, {kind::kDO, hw(kTyped, 3, 3, 1, 4), "B3:1/4"}},
         {{kTyped, "B3:1/0", Step::toggle}},
         {{1, 0}, {0, 1}},
         false,
         false,
         {"S1 0F/AB file 3 element 1 size 2 mask 0018 data 10 00 -> STS 00"}});
    {
        // B3:0 fully owned by sixteen DOs, B3:1 and B3:2 partly, with one mask.
        WriteCase c{"a fully owned word next to partly owned ones", {}, {}, {{}, {}}, false, false, {}};
        for (int16_t bit = 0; bit < 16; ++bit) {
            static const std::vector<std::string> names = [] {
                std::vector<std::string> n;
                for (int b = 0; b < 16; ++b) n.push_back("B3:0/" + std::to_string(b));
                return n;
            }();
            c.outputs.push_back(
                {kind::kDO, hw(kTyped, 3, 3, 0, bit), names[static_cast<size_t>(bit)].c_str()});
            c.host[0].push_back(bit % 3 == 0 ? 1.0f : 0.0f);
            c.host[1].push_back(bit % 3 == 0 ? 0.0f : 1.0f);
        }
        c.outputs.push_back({kind::kDO, hw(kTyped, 3, 3, 1, 2), "B3:1/2"});
        c.outputs.push_back({kind::kDO, hw(kTyped, 3, 3, 2, 2), "B3:2/2"});
        c.host[0].insert(c.host[0].end(), {1, 1});
        c.host[1].insert(c.host[1].end(), {0, 0});
        c.program = {{kTyped, "B3:1/8", Step::toggle}, {kTyped, "B3:2/15", Step::toggle}};
        c.last_writes = {"S1 0F/AA file 3 element 0 size 2 data B6 6D -> STS 00",
                         "S1 0F/AB file 3 element 1 size 4 mask 0004 data 00 00 00 00 -> STS 00"};
        cases.push_back(c);
    }
    cases.push_back({"timer, counter and control presets with the accumulators running",
                     {{kind::kAO, hw(kTyped, 4, 4, 0, -1, 0), "T4:0.PRE"},
                      {kind::kAO, hw(kTyped, 5, 5, 1, -1, 0), "C5:1.PRE"},
                      {kind::kAO, hw(kTyped, 6, 6, 0, -1, 0), "R6:0.LEN"},
                      {kind::kDO, hw(kTyped, 4, 4, 0, -1, 4), "T4:0/EN"}},
                     {{kTyped, "T4:0.ACC", Step::add, 5},
                      {kTyped, "T4:0/DN", Step::toggle},
                      {kTyped, "C5:1.ACC", Step::add, 1},
                      {kTyped, "R6:0.POS", Step::add, 1},
                      {kTyped, "C5:1/CU", Step::toggle}},
                     {{100, 20, 8, 1}, {150, 25, 9, 0}},
                     false,
                     false,
                     {"S1 0F/AB file 4 element 0 size 2 mask 8000 data 00 00 -> STS 00",
                      "S1 0F/AA file 4 element 0 sub 1 size 2 data 96 00 -> STS 00",
                      "S1 0F/AA file 5 element 1 sub 1 size 2 data 19 00 -> STS 00",
                      "S1 0F/AA file 6 element 0 sub 1 size 2 data 09 00 -> STS 00"}});
    cases.push_back({"word-range station: read, merge, write",
                     {{kind::kDO, hw(kWordRange, 3, 3, 1, 3), "B3:1/3"}},
                     {{kWordRange, "B3:1/6", Step::toggle}, {kWordRange, "B3:1/12", Step::toggle}},
                     {{1}, {0}, {1}},
                     false,
                     false,
                     {"S2 0F/00 file 3 element 1 size 2 data 48 10 -> STS 00"}});
    cases.push_back({"word-range station: a timer preset with the accumulator running",
                     {{kind::kAO, hw(kWordRange, 4, 4, 0, -1, 0), "T4:0.PRE"}},
                     {{kWordRange, "T4:0.ACC", Step::add, 9}, {kWordRange, "T4:0/TT", Step::toggle}},
                     {{40}, {41}},
                     false,
                     false,
                     {}});
    cases.push_back({"word-range station, ReadFirst and ReadBack",
                     {{kind::kDO, hw(kWordRange, 3, 3, 1, 3), "B3:1/3"}},
                     {{kWordRange, "B3:1/6", Step::toggle}},
                     {{1}, {0}, {0}},
                     true,
                     true,
                     {}});
    return cases;
}

TEST(OwnedBitsWriteCases, OnlyTheOwnedBitsChangeOnTheController) {
    for (const WriteCase& c : write_cases()) {
        WriteRig rig;
        rig.run(c);
    }
}

struct OwnedBitsWrites : testing::Test, WriteRig {};

TEST_F(OwnedBitsWrites, AWordRangeStationReadsThePartlyOwnedRunJustBeforeWritingIt) {
    network.set_value(kWordRange, "B3:1/6", 1);
    std::vector<qvr::ChannelRecord> records{channel(kind::kDO, hw(kWordRange, 3, 3, 1, 3))};
    std::vector<uint32_t> status{0x21};
    std::vector<float> none;
    ASSERT_EQ(handlers.init(kind::kDO, config, records), 0);
    ASSERT_EQ(handlers.scan(kind::kDO, config, records, status, none), 0);
    status[0] = 0;
    network.set_value(kWordRange, "B3:1/9", 1);  // the program, between two scans
    network.clear_commands();
    ASSERT_EQ(handlers.scan(kind::kDO, config, records, status, none), 0);
    const auto log = network.commands();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text(), "S2 0F/01 file 3 element 1 size 2 data 48 02 -> STS 00");
    EXPECT_EQ(log[1].text(), "S2 0F/00 file 3 element 1 size 2 data 40 02 -> STS 00");
    EXPECT_EQ(network.value(kWordRange, "B3:1"), 0x240);
}

TEST_F(OwnedBitsWrites, ACommandTheProcessorLacksIsRefusedAsIllegal) {
    std::vector<uint8_t> data{1, 0};
    tolva::TransferRequest r;
    r.station = kWordRange;
    r.file_type = 3;
    r.file_number = 3;
    r.byte_count = 2;
    r.data = data;
    EXPECT_EQ(commands.write_masked(r, 0x0001), 0);
    EXPECT_EQ(r.result, 0x4000001);               // "Remote 0x1"
    EXPECT_EQ(commands.write_block(r, 0x4E), 0);  // typed write to a word-range processor
    EXPECT_EQ(r.result, 0x4000001);
    r.station = kTyped;
    EXPECT_EQ(commands.write_block(r, 0x49), 0);  // word-range write to a typed processor
    EXPECT_EQ(r.result, 0x4000001);
    EXPECT_EQ(network.value(kTyped, "B3:0"), 0);
    EXPECT_EQ(network.value(kWordRange, "B3:0"), 0);
}

}  // namespace
