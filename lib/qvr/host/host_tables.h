#pragma once
// The runtime host's four tables, shared sections it creates as data modules: the devices it
// serves ("dm_device"), its processors and programs ("dm_datproc"), its loggers
// ("dm_loggers") and the status texts of all programs ("dm_errors"). Each is opened once per
// process (a failed open is tried again at the next call). The records below are a wire
// format shared with the host; their offsets bind.
//
// Every count read from a table is bounded by what lies inside the header's data length and
// the mapping, so a table that claims more records than it holds shows only the ones it has.
#include <cstddef>
#include <cstdint>

#include "qvr/time/timestamp.h"

namespace qvr {

inline constexpr const char* kDeviceTableName = "dm_device";
inline constexpr const char* kProcessTableName = "dm_datproc";
inline constexpr const char* kLoggerTableName = "dm_loggers";
inline constexpr const char* kErrorTableName = "dm_errors";

// Every table: a u32 record count at 128, the records from 132.
inline constexpr size_t kTableCountOffset = 128;
inline constexpr size_t kTableRecordsOffset = 132;

inline constexpr size_t kDeviceRecordSize = 788;
inline constexpr size_t kProcessRecordSize = 60;
inline constexpr size_t kLoggerRecordSize = 172;
// One two-character statistics module code per device follows the last DeviceRecord.
inline constexpr size_t kStatsCodeSize = 2;
// A device table that holds the codes has at least 4 + count x 790 data bytes.
inline constexpr size_t kDeviceTableBytesPerDevice = kDeviceRecordSize + kStatsCodeSize;

inline constexpr int kKindCodeCount = 5;     // AI, DI, AO, DO, CI
inline constexpr int kModulesPerDevice = 6;  // the five kinds and the statistics module
inline constexpr int kStatsSlot = 5;

// Status-entry types.
inline constexpr int kStatusEntryDevice = 2;
inline constexpr int kStatusEntryProcessor = 3;
inline constexpr int kStatusEntryLogger = 4;
inline constexpr int kStatusEntryLoggerExport = 5;

// Error-table entries: short (57 bytes) and long (386 bytes).
inline constexpr size_t kShortErrorEntrySize = 57;
inline constexpr size_t kLongErrorEntrySize = 386;
inline constexpr size_t kErrorEntryPairSize = kShortErrorEntrySize + kLongErrorEntrySize;  // 443
inline constexpr size_t kShortEntryNameOffset = 1;
inline constexpr size_t kShortEntryNameSize = 25;  // 24 characters kept
inline constexpr size_t kShortEntryTextOffset = 26;
inline constexpr size_t kShortEntryTextSize = 30;
inline constexpr size_t kLongEntryNameOffset = 1;
inline constexpr size_t kLongEntryNameSize = 130;
inline constexpr size_t kLongEntryTextOffset = 131;
inline constexpr size_t kLongEntryTextSize = 255;
// A long-form text is formatted into 121 characters, of which 80 are stored.
inline constexpr size_t kLongStatusFormatSize = 121;
inline constexpr size_t kLongStatusStored = 80;

}  // namespace qvr

#pragma pack(push, 1)
struct DeviceRecord {
    char TypeName[9];     // device-type name; matched on its first 5 characters, any case
    char DeviceName[25];  // the scanner's status-entry name and the device's text name
    uint16_t DeviceNumber;
    char ConfigName[12];  // the device's configuration folder
    char KindCodes[10];   // AI, DI, AO, DO, CI module codes; first byte 0 = kind absent
    uint8_t Attached;     // 1 while a scanner serves the device
    uint8_t Reserved59;
    uint8_t DeviceConfig[704];  // the device type's configuration record
    int32_t LastScanMs;
    TimeStamp NextDue;
    uint8_t Busy;
    uint8_t Reserved777[3];
    uint32_t ProcessId;  // the scanner serving the device
    uint8_t Started;     // first initialisation done
    uint8_t Reserved785[3];
};

struct ProcessRecord {
    char ProcName[9];     // at most 8 characters; also its folder below the configuration folder
    char ProcText[25];    // text name, the status-entry name of the process
    char ProcCode[2];     // module code of the processor's data module
    uint8_t RunsProcess;  // non-zero: runs as a program of its own
    uint8_t ProcEnabled;
    uint8_t Reserved38;
    uint8_t HasValueRecords;  // its data module carries 264-byte value records
    int32_t ProcPid;
    int32_t ProcReady;  // set non-zero by the started program when it is ready
    uint8_t Reserved48[12];
};

struct LoggerRecord {
    char LoggerType[5];  // "stand", "repub" or "resub", compared on 5 characters
    uint8_t Reserved5[4];
    uint8_t LoggerEnabled;  // bit 0
    int8_t LoggerActivity;  // 0..5
    uint8_t Reserved11;
    uint32_t LoggerPid;
    uint8_t Reserved16[4];
    uint32_t LoggerRunNumber;
    uint8_t Reserved24[13];
    char LoggerLabel[135];  // logger name
};
#pragma pack(pop)

static_assert(sizeof(DeviceRecord) == qvr::kDeviceRecordSize);
static_assert(offsetof(DeviceRecord, DeviceName) == 9);
static_assert(offsetof(DeviceRecord, DeviceNumber) == 34);
static_assert(offsetof(DeviceRecord, ConfigName) == 36);
static_assert(offsetof(DeviceRecord, KindCodes) == 48);
static_assert(offsetof(DeviceRecord, Attached) == 58);
static_assert(offsetof(DeviceRecord, DeviceConfig) == 60);
static_assert(offsetof(DeviceRecord, LastScanMs) == 764);
static_assert(offsetof(DeviceRecord, NextDue) == 768);
static_assert(offsetof(DeviceRecord, Busy) == 776);
static_assert(offsetof(DeviceRecord, ProcessId) == 780);
static_assert(offsetof(DeviceRecord, Started) == 784);

static_assert(sizeof(ProcessRecord) == qvr::kProcessRecordSize);
static_assert(offsetof(ProcessRecord, ProcText) == 9);
static_assert(offsetof(ProcessRecord, ProcCode) == 34);
static_assert(offsetof(ProcessRecord, RunsProcess) == 36);
static_assert(offsetof(ProcessRecord, ProcEnabled) == 37);
static_assert(offsetof(ProcessRecord, HasValueRecords) == 39);
static_assert(offsetof(ProcessRecord, ProcPid) == 40);
static_assert(offsetof(ProcessRecord, ProcReady) == 44);

static_assert(sizeof(LoggerRecord) == qvr::kLoggerRecordSize);
static_assert(offsetof(LoggerRecord, LoggerEnabled) == 9);
static_assert(offsetof(LoggerRecord, LoggerActivity) == 10);
static_assert(offsetof(LoggerRecord, LoggerPid) == 12);
static_assert(offsetof(LoggerRecord, LoggerRunNumber) == 20);
static_assert(offsetof(LoggerRecord, LoggerLabel) == 37);

// 0, or -1 when the section cannot be opened (a later call tries again).
int shm_OpenDeviceTable();
int shm_OpenProcessTable();
int shm_OpenLoggerTable();
int shm_OpenErrorTable();

// The ProcessRecord of `name`: exact match (any case, 8 characters) first, else the first
// that agrees on 5 characters. Null when none, or when the table cannot be opened.
ProcessRecord* shm_FindProcess(const char* name);
// Moves the named ProcessRecord to the end of the table, under the table's lock. 0, or -1.
int shm_MoveProcessLast(const char* name);

// LoggerRecord n (1-based) or null; the 1-based index of the logger labelled `name`, or 0.
LoggerRecord* shm_LoggerByIndex(int n);
int shm_LoggerIndex(const char* name);

// The DeviceRecord of the device type `type_name` (first 5 characters, any case) and
// instance `number`, with its record index in `index` when given. Null when none.
DeviceRecord* shm_FindDevice(const char* type_name, uint16_t number, int* index);
// The statistics module code of device `index` ("" when it has none) in a per-thread
// buffer; null when the table does not hold the code array or the index is beyond it.
const char* shm_DeviceStatsCode(int index);

namespace qvr {

// The opened table sections (null when they cannot be opened), for locking and waiting.
void* device_table();
void* process_table();
void* logger_table();
void* error_table();

// Record counts as bounded by the sections (0 when a table cannot be opened).
uint32_t device_count();
uint32_t process_count();
uint32_t logger_count();

DeviceRecord* device_record(uint32_t index);
ProcessRecord* process_record(uint32_t index);

}  // namespace qvr
