#include "controller/link_log.h"

#include <algorithm>
#include <cstdio>

namespace sim_controller {
namespace {

void append_hex(std::string& text, const std::vector<uint8_t>& bytes) {
    char pair[4];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, " %02X", b);
        text += pair;
    }
}

}  // namespace

std::string_view entry_kind_name(EntryKind kind) {
    switch (kind) {
        case EntryKind::frame:
            return "frame";
        case EntryKind::ack:
            return "ACK";
        case EntryKind::nak:
            return "NAK";
        case EntryKind::enq:
            return "ENQ";
        case EntryKind::garbage:
            return "stray bytes";
        case EntryKind::bad_bcc:
            return "bad block check";
        case EntryKind::bad_pair:
            return "bad DLE pair";
        case EntryKind::overflow:
            return "frame too long";
        case EntryKind::short_frame:
            return "frame too short";
        case EntryKind::duplicate:
            return "duplicate";
        case EntryKind::dropped:
            return "dropped";
        case EntryKind::unexpected:
            return "unexpected";
        case EntryKind::gave_up:
            return "gave up";
        case EntryKind::fault:
            return "fault";
        case EntryKind::no_station:
            return "no station";
        case EntryKind::closed:
            return "closed";
    }
    return "?";
}

std::string LogEntry::text() const {
    static constexpr const char* kDirections[] = {"in ", "out", "-- "};
    std::string line = kDirections[static_cast<int>(direction)];
    line += ' ';
    line += entry_kind_name(kind);
    if (kind == EntryKind::frame && direction == Direction::out) line += " #" + std::to_string(count);
    if (kind == EntryKind::garbage) line += " " + std::to_string(count);
    if (body.size() >= 6) {
        char head[64];
        std::snprintf(head, sizeof head, " DST=%02X SRC=%02X CMD=%02X STS=%02X TNS=%02X%02X", body[0],
                      body[1], body[2], body[3], body[5], body[4]);
        line += head;
    }
    if (!body.empty() || kind == EntryKind::frame) {
        line += " [" + std::to_string(body.size()) + "]";
        append_hex(line, body);
    }
    if (!note.empty()) line += " (" + note + ")";
    return line;
}

size_t count_entries(const std::vector<LogEntry>& log, Direction direction, EntryKind kind) {
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const LogEntry& e) {
        return e.direction == direction && e.kind == kind;
    }));
}

}  // namespace sim_controller
