// Status entries in the host's error table and their SYSER mirror channel.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "host/runtime_host.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/host/status_text.h"

using namespace std::chrono_literals;

namespace {

// Signals the error table has counted for this process's (non-waiting) waiter slot 1.
uint16_t table_signals() {
    const auto bytes = qvr::section_bytes(qvr::error_table());
    const auto slot = qvr::waiter_slot(*qvr::signal_areas(bytes), 1);
    return qvr::load_u16(bytes, slot->offset + 6);
}

sim_host::TableOptions short_form() {
    sim_host::TableOptions o;
    o.short_error_table = true;
    o.error_entries = 4;
    return o;
}

}  // namespace

TEST(StatusText, RegisterSetAndClearWithTheMirrorChannel) {
    sim_host::RuntimeHost host;
    chanrec_SetDescription(host.channel_record("SY", 3), "tolva device 1");
    ASSERT_EQ(shm_OpenErrorTable(), 0);
    ASSERT_GE(shm_ResetWaiters(qvr::error_table(), 1), 0);

    shm_RegisterStatusEntry(qvr::kStatusEntryDevice, "TOLVA DEVICE 1");
    auto entries = host.status_entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, 2);
    EXPECT_EQ(entries[0].name, "TOLVA DEVICE 1");
    EXPECT_EQ(entries[0].text, "");

    errno = 1234;
    shm_SetStatusText("CAN'T SCAN DEVICE -%04d", 5);
    EXPECT_EQ(errno, 1234) << "the caller's error number survives";
    EXPECT_EQ(host.status_entries()[0].text, "CAN'T SCAN DEVICE -0005");
    EXPECT_EQ(table_signals(), 1);
    const auto& mirror = host.channel_record("SY", 3)->digital;
    EXPECT_EQ(std::string(mirror.HighStateText, 23), "CAN'T SCAN DEVICE -0005");
    EXPECT_EQ(std::string(mirror.AlarmText, 23), "CAN'T SCAN DEVICE -0005");
    EXPECT_EQ(host.status_word("SY", 3) & 1, 1u);
    EXPECT_EQ(host.status_word("SY", 1), 0u);

    shm_SetStatusText("can't scan device -%04d", 5);  // same text in another case
    EXPECT_EQ(table_signals(), 1) << "written and signalled once";

    shm_ClearStatusText();
    EXPECT_EQ(host.status_entries()[0].text, "");
    EXPECT_EQ(table_signals(), 2);
    EXPECT_EQ(host.status_word("SY", 3) & 1, 0u);
    shm_ClearStatusText();
    EXPECT_EQ(table_signals(), 2) << "nothing to clear";

    // The same entry is found again on a later registration; a long text keeps 80 characters.
    shm_RegisterStatusEntry(qvr::kStatusEntryDevice, "tolva device 1");
    EXPECT_EQ(host.status_entries().size(), 1u);
    shm_SetStatusText("%s", std::string(200, 'x').c_str());
    EXPECT_EQ(host.status_entries()[0].text, std::string(80, 'x'));
    EXPECT_EQ(std::string(mirror.HighStateText, 32), std::string(32, 'x'));
}

TEST(StatusText, RegistrationTakesOverAStandingMirrorTextOfAtMost32Characters) {
    sim_host::RuntimeHost host;
    auto* r = host.channel_record("SY", 2);
    chanrec_SetDescription(r, "CALCULATOR 1");
    // A full 32-character state text, not terminated, followed by the low state text.
    std::memset(r->digital.HighStateText, 'H', 32);
    std::memcpy(r->digital.LowStateText, "LOWTEXT", 8);
    host.set_status_word("SY", 2, 1);
    shm_RegisterStatusEntry(qvr::kStatusEntryProcessor, "CALCULATOR 1");
    EXPECT_EQ(host.status_entries()[0].text, std::string(32, 'H'));
}

TEST(StatusText, LoggerEntriesFindTheirMirrorByTheSourceKey) {
    sim_host::RuntimeHost host;
    host.add_logger({"stand", "Boiler House"});
    host.add_logger({"stand", "Pump"});
    host.add_logger({"stand", "A logger name longer than fifteen"});
    chanrec_SetDescription(host.channel_record("SY", 4), "Boiler House");
    chanrec_SetDescription(host.channel_record("SY", 5), "exp pump");
    // An export key longer than 15 characters: its first 15 are the tag, the rest the text.
    const std::string key = qvr::export_source_key("stand", "A logger name longer than fifteen");
    ASSERT_GT(key.size(), 15u);
    chanrec_SetTag(host.channel_record("SY", 6), key.substr(0, 15).c_str());
    chanrec_SetDescription(host.channel_record("SY", 6), key.substr(15).c_str());
    struct Case {
        int type;
        const char* name;
        int channel;
    } cases[] = {{qvr::kStatusEntryLogger, "Boiler House", 4},
                 {qvr::kStatusEntryLoggerExport, "Pump", 5},
                 {qvr::kStatusEntryLoggerExport, "A logger name longer than fifteen", 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channel);
        shm_RegisterStatusEntry(c.type, c.name);
        shm_SetStatusText("RUN %d", c.channel);
        EXPECT_EQ(host.status_word("SY", c.channel) & 1, 1u);
    }
}

TEST(StatusText, ShortFormKeeps24NameAnd29TextCharactersInTheLastFreeEntry) {
    sim_host::RuntimeHost host(short_form());
    chanrec_SetDescription(host.channel_record("SY", 1), "A NAME OF MORE THAN 24 CHARS");
    shm_RegisterStatusEntry(qvr::kStatusEntryDevice, "A NAME OF MORE THAN 24 CHARS");
    shm_RegisterStatusEntry(qvr::kStatusEntryProcessor, "SECOND");
    const auto entries = host.status_entries();
    ASSERT_EQ(entries.size(), 2u);
    // Four entries of 57 bytes in 4 x 57 data bytes: the last one would reach past the data,
    // so entry 2 is the last free one, then entry 1.
    EXPECT_EQ(entries[0].name, "SECOND");
    EXPECT_EQ(entries[1].name, "A NAME OF MORE THAN 24 C");
    shm_RegisterStatusEntry(qvr::kStatusEntryDevice, "A NAME OF MORE THAN 24 CHARS");
    shm_SetStatusText("%s", std::string(40, 'y').c_str());
    EXPECT_EQ(host.status_entries()[1].text, std::string(29, 'y'));
    EXPECT_EQ(host.status_word("SY", 1) & 1, 1u) << "the short form compares descriptions";
    // The bytes after the table's data (its waiter slots) are never written.
    const auto bytes = qvr::section_bytes(qvr::error_table());
    EXPECT_EQ(qvr::load_u32(bytes, qvr::load_u32(bytes, qvr::kOffWaiterOffset)), 0u);
}

TEST(StatusText, WithoutATableNothingHappensAndNothingFails) {
    shm_RegisterStatusEntry(qvr::kStatusEntryDevice, "NOBODY");
    errno = 7;
    shm_SetStatusText("X %d", 1);
    shm_ClearStatusText();
    EXPECT_EQ(errno, 7);
}
