#pragma once
// The replies of the processor, device, logger, value and file requests, read only within
// the bytes that arrived (up to the first NUL where a reply is text). A list reply is its
// count and a comma, then entries ending in ';', each of comma fields. A reply with more
// entries than the caller's capacity, a field longer than its record holds, a number that
// is no number or out of its field's range, or too few fields, is malformed: -1.
#include <cstdint>
#include <string_view>
#include <vector>

#include "qvr/requests/request_records.h"

struct TimeStamp;

namespace qvr::requests {

// The entries of a list reply; false when it lacks the comma after its leading count.
bool list_entries(std::string_view text, std::vector<std::string_view>& entries);

// "IP,": name, print name, prefix:count, run flag, type letter (A analog, else digital;
// a name beginning "modb" is type 6).
int parse_processor_list(std::string_view text, ProcessorRecord* records, int capacity);
// "IE,": name, number, print name, the ranges ("XX:n" for each kind in kind order, "-" for
// a kind not in use, separated by blanks) and the key; the key is computed from name and
// number.
int parse_device_list(std::string_view text, DeviceInfoRecord* records, int capacity);
// "TP,": two numbers, a text of at most 30 characters, a non-empty second text in its place.
int parse_processor_state(std::string_view text, ProcessorStateRecord* records, int capacity);
// "TE,": three numbers, then the texts as for "TP,".
int parse_device_state(std::string_view text, DeviceStateRecord* records, int capacity);
// "IL,": kind, number, description.
int parse_logger_list(std::string_view text, LoggerInfoRecord* records, int capacity);
// "TL,": name, four numbers (the first three are the state bytes, the fourth the value),
// a text and a non-empty second text in its place.
int parse_logger_state(std::string_view text, LoggerStateRecord* records, int capacity);

// "BS": the number, then two texts cut to their buffers (empty when absent).
void parse_server_state(std::string_view text, int& number, char* text1, std::size_t size1, char* text2,
                        std::size_t size2);
// "TC," entries: `count` 4-byte entries from reply byte 2, as far as the reply holds them,
// zeros for the rest.
void parse_tag_channels(std::string_view reply, int count, uint8_t* out);
// "TS": "%d,%hd" into the stamp, and the 172-byte zone after the text's NUL when the reply
// holds all of it (zeros otherwise).
void parse_server_time(std::string_view reply, TimeStamp* stamp, uint8_t* zone);

// One "DF" page: calls `name` for each name after the first comma; false (13) for a name of
// 256 characters or more. `names` gets how many there were.
bool parse_directory_page(std::string_view text, int& names, bool (*name)(void* context, std::string_view),
                          void* context);
// The data of an "RF" reply for `asked` bytes: the count at reply byte asked + 3 must be a
// number 0..asked and the whole data area must have arrived. The count, or -1.
long long parse_read_reply(std::string_view reply, uint32_t asked);
// "TF": from the third character six numbers (high and low parts of three file times).
bool parse_file_times(std::string_view text, uint32_t (&parts)[6]);

}  // namespace qvr::requests
