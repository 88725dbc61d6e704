#pragma once
// A logger's health as 32 channels of the host's logger status device, the ProcessRecord
// "logst": logger n (1-based) owns channels 32(n - 1) + 1 .. 32n of its data and configuration
// modules, the first 12 digital, the other 20 analog. One logger per process: the state is
// module-wide behind one mutex.
//
// Times given to the setters are logged-data times (UTC seconds); the last write's date and
// time are the local wall-clock stamp. Every function does nothing before status_Init found
// its device, except status_FillRecords, status_PathPiece, status_SetDateTime,
// status_NoteWrite, status_NoteRead, status_TickDiff and the helpers below them. A missing
// device, module or error entry silently disables the channels or the channel concerned.
#include <cstdint>

#include "qvr/host/host_tables.h"
#include "qvr/records/channel_record.h"

inline constexpr const char* kLoggerStatusProcess = "logst";
inline constexpr int kStatusChannelsPerLogger = 32;
inline constexpr int kStatusDigitalChannels = 12;
inline constexpr int kStatusAnalogChannels = 20;

// Channels of a logger's block (1-based within the block).
enum StatusChannel : int {
    kStatusStatus = 1,
    kStatusDirectory1 = 2,
    kStatusDirectory6 = 7,
    kStatusPrefix = 8,
    kStatusType = 9,
    kStatusActivity = 10,
    kStatusError = 11,
    kStatusResetCounts = 12,
    kStatusDateLastWrite = 13,
    kStatusTimeLastWrite = 14,
    kStatusSecondsSinceWrite = 15,
    kStatusWriteCount = 16,
    kStatusBytesWritten = 17,
    kStatusReadCount = 18,
    kStatusBytesRead = 19,
    kStatusRealTimeNumber = 20,
    kStatusRealTimeDate = 21,
    kStatusLagNumber = 23,
    kStatusLagDate = 24,
    kStatusHistoricalNumber = 26,
    kStatusHistoricalDate = 27,
    kStatusExpiryDate = 29,
    kStatusHoursToExpiry = 31,
    kStatusIncomplete = 32,
};

// Sets up logger n's block and publishes. `logger` is read at every publish (its enabled
// bit, activity, run number and label) and must stay valid until status_Stop: normally the
// logger's record in the host's logger table (shm_LoggerByIndex).
void status_Init(int logger_number, const LoggerRecord* logger);
// Publishes a last time (SEC LAST W 0) and ends publishing.
void status_Stop();

// The location texts: DIRECTORY1..6 from the path pieces of a file location (DIRECTORY1 is
// the LoggerLabel otherwise), PREFIX when `prefix` is non-empty, TYPE. Null texts are empty.
void status_SetLocation(const char* location, const char* path, const char* prefix);
// Each updates its channels and publishes; a number of 0 or a time of 0 leaves its channels.
void status_SetRealTime(uint32_t number, int32_t seconds);
void status_SetLag(uint32_t number, int32_t seconds);
void status_SetHistorical(uint32_t number, int32_t seconds);
void status_SetExpiry(int32_t seconds);
void status_SetIncomplete(uint32_t count);
void status_ResetCounters();

// Counters only, published by the next publish. Safe from any thread.
void status_NoteWrite(uint32_t bytes);
void status_NoteRead(uint32_t bytes);

// Writes the block's channel values (every channel at the process's first publish, the
// changed ones after it).
void status_Publish();

// Zeroes the 32 records at `records` and fills rows 1..count (clamped to 0..32) as logger n's
// channels. Also used by the local request handler.
void status_FillRecords(int logger_number, int count, qvr::ChannelRecord* records);
// The index-th (from 0) shown folder component of `path` (split at '/' and '\', the last six
// when there are more), cut to 32 characters, in a per-thread buffer; null when absent.
const char* status_PathPiece(const char* path, int index);
// The date ("yymmdd" as a number) of the UTC seconds at block channel `channel` (13..31) and
// the time ("hhmmss") at the next one; 0 for both when the seconds are 0.
void status_SetDateTime(int channel, int32_t seconds);
// yymmdd and hhmmss of the UTC breakdown of `seconds`, as the date and time channels show
// them; 0 and 0 for 0.
struct StatusDateTime {
    float date = 0;
    float time = 0;
};
StatusDateTime status_DateTimeValues(int32_t seconds);
// Milliseconds from `then` to `now` of the millisecond tick counter: now - then, less 1 when
// the counter wrapped in between.
uint32_t status_TickDiff(uint32_t then, uint32_t now);

// The millisecond tick counter: CLOCK_MONOTONIC milliseconds modulo 2^32.
uint32_t status_TickCount();
// The ACTIVITY text of a LoggerActivity value ("Unknown" outside 0..5).
const char* status_ActivityText(int activity);
// 32, 31 or 25: the channels filled for a logger of this LoggerType.
int status_ChannelCount(const char* logger_type);
