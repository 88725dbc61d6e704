#pragma once
// The module's decoded log of every frame and link event on its line.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim_controller {

enum class Direction : uint8_t {
    in,     // from the master to the module
    out,    // from the module to the master
    event,  // inside the module
};

enum class EntryKind : uint8_t {
    frame,
    ack,
    nak,
    enq,
    garbage,  // stray bytes (count)
    bad_bcc,
    bad_pair,
    overflow,
    short_frame,
    duplicate,   // a repeated request, acknowledged and not handled again
    dropped,     // a response the fault script kept off the line (count = its code)
    unexpected,  // an ACK or NAK with no reply waiting for it
    gave_up,     // a reply dropped after its transmissions or enquiries ran out
    fault,       // a fault applied (note says which)
    no_station,
    closed,  // the line was closed
};

std::string_view entry_kind_name(EntryKind kind);

struct LogEntry {
    int64_t time_ns = 0;  // monotonic
    Direction direction = Direction::event;
    EntryKind kind = EntryKind::frame;
    uint32_t count = 0;  // transmission number of an outgoing frame, byte count of garbage
    std::vector<uint8_t> body;
    std::string note;

    // One readable line, e.g. "out frame #1 DST=00 SRC=01 CMD=4F STS=00 TNS=0056 [8] 00 01 ...".
    std::string text() const;
};

// How many entries of a kind and direction a log holds.
size_t count_entries(const std::vector<LogEntry>& log, Direction direction, EntryKind kind);

}  // namespace sim_controller
