#pragma once
// The logged-data requests of a viewer of logged data. Every operation takes a context it does
// not use and the server string. "FS", "NS", "IS", "WS", "PS", "MS" and "6S".."8S" are sent only
// to a data folder or a "PROVIDER=" string (server kind 3, answered in this process): for any
// other kind they return -1 with ERROR_NOT_SUPPORTED (50) and send nothing. "5S" is sent over
// any kind. The caller buffers of "6S".."8S" are registered for the length of the request and
// travel as handles (qvr/requests/local_buffers.h); the handler writes whole entries within
// their capacities only.
#include <cstdint>

struct TimeStamp;

// 0 when `server` is of kind 3, else -1.
int ldc_IsLocalData(void* context, const char* server);

// 1 when the request's result is not -1, else 0 (-1 for another server kind).
int ldc_RequestFS(void* context, const char* server);
int ldc_RequestNS(void* context, const char* server);
int ldc_RequestWS(void* context, const char* server);
int ldc_RequestPS(void* context, const char* server);
int ldc_RequestMS(void* context, const char* server, std::uint32_t number);

// "IS": the earliest start (UTC seconds) of the runs; 0 when the request failed, -1 for
// another server kind.
std::int64_t ldc_GetStartTime(void* context, const char* server);
// "NS": the total records of all runs, `second` (when given) the second number of the reply;
// 0 when the request failed, -1 for another server kind.
std::int64_t ldc_CountRecords(void* context, const char* server, int* second);

// "5S": the runs of the main (index 0) or second (1) collection that overlap the window
// (flags bit 0: *start given, bit 1: *end given; UTC seconds): their first start and last end
// into *start and *end, their records inside the window into *count, their number into
// *size, 1 into *last while the current run is logging. On failure the outputs are 0.
// 1, or -1 with the link's error.
int ldc_GetSummary(void* context, const char* server, int index, std::uint32_t* start, int flags,
                   std::uint32_t* end, std::uint32_t* count, std::uint32_t* size, int* last);

// "6S": the lines of `section` into `buffer` (*length bytes on entry, the NUL included):
// "HEADER" the current run's header, any other name that section of every run in run order
// ("TEXT" merged with the data folder's events in time order), whole lines only. *length
// becomes the bytes copied (without the NUL), 0 on failure. 1, or -1.
int ldc_GetSectionText(void* context, const char* server, const char* section, char* buffer, int* length);

// "7S": the records with *start <= time < *end (a bound not given is the first start of all
// runs, or their last end plus 1 s; both are written back). `records` gets up to
// `recordCapacity` 16-byte record heads, `values` per record one {u32 flags, f32 value} per
// channel of `channels` (same list rules as "CV"; flag 0x20 where the run does not hold it,
// 0x40 cleared), `runs` up to `runCapacity` entries {i32 first record in the output, start,
// stop} of 20 bytes, one per run met. *recordCount and *runCount are what was written, *last
// 1 while the current run is logging. When either buffer came back full, ask again from the
// last record's time plus one microsecond. On failure *start, *end and the counts are 0.
// 1, or -1 with the link's error (87 for a field refused before sending).
int ldc_ReadRecordRange(void* context, const char* server, int startGiven, TimeStamp* start, int endGiven,
                        TimeStamp* end, const char* channels, std::uint32_t recordCapacity, void* records,
                        void* values, void* runs, int runCapacity, std::uint32_t* recordCount,
                        std::uint32_t* runCount, int* last);
// "8S": as "7S", with the byte capacity of `values` given by the caller: the records written
// are also limited to what it holds whole.
int ldc_ReadRecordRangeEx(void* context, const char* server, int startGiven, TimeStamp* start, int endGiven,
                          TimeStamp* end, const char* channels, int recordCapacity, void* records,
                          void* values, void* runs, int runCapacity, std::int64_t valueBytes,
                          std::uint32_t* recordCount, std::uint32_t* runCount, int* last);

// The general requests, the context dropped (qvr/requests/value_requests.h,
// qvr/requests/processor_requests.h).
int ldc_RequestDS(void* context, const char* server);
int ldc_RequestES(void* context, const char* server);
int ldc_RequestCurrentValue(void* context, const char* server, const char* list, char* reply);
int ldc_RequestRV(void* context, const char* server, const char* list, char* reply);
int ldc_RequestTagChannels(void* context, const char* server, const char* const* tags, int count,
                           std::uint8_t* out);
int ldc_SetChannelValue(void* context, const char* server, const char* channel, double value);
int ldc_GetServerTime(void* context, const char* server, TimeStamp* stamp);
int ldc_GetServerTimeZone(void* context, const char* server, TimeStamp* stamp, std::uint8_t* zone);
int ldc_ListConfigItems(void* context, const char* server, char* out, std::uint32_t size);
