#pragma once
// The records the processor, device and logger requests fill: fixed layouts, as callers
// (the configuration front, the plug-in) keep them in arrays.
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct ProcessorRecord {
    char name[10];           // at most 8 characters, upper case
    char print_name[26];     // at most 24 characters
    char prefix[2];          // channel prefix, not terminated
    uint16_t channel_count;  // for "ALARM": the alarm queue size
    uint8_t run;
    uint8_t type;  // 2 analog, 3 digital, 6 a "modb" processor
};

struct ChannelRange {
    char prefix[2];  // empty: the kind is not in use
    uint16_t count;
};

inline constexpr int kChannelKinds = 6;

struct DeviceInfoRecord {
    char name[10];
    int16_t number;                      // 1 to 99
    char print_name[25];                 // at most 24 characters
    char key[13];                        // "%s_%d" of name and number, upper case
    ChannelRange ranges[kChannelKinds];  // one per channel kind, in kind order
};

struct ProcessorStateRecord {
    uint8_t state[2];
    char text[256];
};

struct DeviceStateRecord {
    uint8_t state[2];
    int32_t value;
    char text[256];
};

struct LoggerInfoRecord {
    char kind[10];  // at most 8 characters
    int16_t number;
    char description[130];
};

struct LoggerStateRecord {
    char name[130];
    uint8_t state[3];  // state[0]: the enabled flag
    char text[255];    // at most 254 characters
    int32_t value;
};
#pragma pack(pop)

static_assert(sizeof(ProcessorRecord) == 42);
static_assert(offsetof(ProcessorRecord, prefix) == 36 && offsetof(ProcessorRecord, type) == 41);
static_assert(sizeof(DeviceInfoRecord) == 74);
static_assert(offsetof(DeviceInfoRecord, number) == 10 && offsetof(DeviceInfoRecord, key) == 37 &&
              offsetof(DeviceInfoRecord, ranges) == 50);
static_assert(sizeof(LoggerInfoRecord) == 142);
static_assert(offsetof(LoggerInfoRecord, description) == 12);
static_assert(sizeof(LoggerStateRecord) == 392);
static_assert(offsetof(LoggerStateRecord, text) == 133 && offsetof(LoggerStateRecord, value) == 388);
