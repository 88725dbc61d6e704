#pragma once
// Time-named data files of a recording program: one per process. The current file is
// named after its start ("<prefix><yymmdd_hhmmss><suffix>") and renamed with its end
// ("<prefix><start>_<end><suffix>") when finished. A one-byte lock just past the end of the
// data tells readers in other processes how far the data is complete; in header mode the
// first 4 bytes hold the end-of-data offset. A writer thread gathers queued blocks and
// writes memory-adjacent ones with one write, once per period or when stopped.
//
// Stamps are TimeStamp seconds (local wall-clock time). Results are 0 / -1 with the reason
// in errno and the last-error value, unless noted.
#include <cstddef>
#include <cstdint>

#include "qvr/time/timestamp.h"

// Folder: `folder` when given, else the product folder of `variable` + "/" + `subfolder`.
// The folder and its parent are created when missing.
int rf_Setup(const char* variable, const char* folder, const char* subfolder, const char* suffix,
             const char* prefix);
// Starts the running file of `start_seconds`. A file of that name that holds more than the
// header's 4 bytes is never replaced: -1 with ERROR_FILE_EXISTS (80).
int rf_Create(int32_t start_seconds);
// Opens a file of the folder (a bare name) or a path, for writing at offset 0; its declared
// length must be valid. The write descriptor, or -1.
int rf_OpenExisting(const char* name);
// Opens the file whose stamp right after the prefix is the latest; its name is copied into
// `name` (capacity bytes) when given. -1 when there is none (ERROR_FILE_NOT_FOUND, 2).
int rf_OpenLatest(char* name, size_t capacity);
int rf_OpenLatestNoName();

void rf_SetHeaderMode(int on);
int rf_WriteHeader();
int rf_Seek(uint64_t offset);
int rf_Write(const void* data, size_t length);

// End-of-data lock: lock the byte at `offset` (nothing when one is held further on), and
// advance the offsets by `bytes`, giving up the byte at the old end once passed.
int rf_LockAt(uint64_t offset);
int rf_Advance(uint64_t bytes);

// Finishes the current file: header written, descriptors closed; without an end time the
// file is deleted, else renamed with its end stamp (never over an existing file). The
// caller's error number is kept; the result tells whether it all succeeded.
int rf_Close(const int32_t* start_seconds, const int32_t* end_seconds, int read_only);
// Turns a finished current file back into the running one, reopened at the current offset.
int rf_ResumeFinished();
// Deletes the files of the folder whose last stamp before `suffix` is older than the local
// time less `period`. The file being written is kept.
int rf_Purge(const PeriodSpec* period, const char* suffix);
const char* rf_Folder();
// Closes and deletes the current file.
int rf_Delete();

// Writer thread: a ring of `capacity` entries, a pending map of `buffer_bytes` (one byte
// per byte of the caller's buffer, 1 while queued) and a flush every `period_seconds`.
int rf_StartWriter(uint32_t capacity, uint32_t buffer_bytes, uint32_t period_seconds);
// Queues `count` elements of `element_size` bytes at `data`, whose bytes are those of the
// pending map from `position`. Blocks while the ring is full. 1, or -1: with the writer's
// first failure (kept until rf_StopWriter: nothing is written after it), or with
// ERROR_INVALID_PARAMETER (87) for an empty block or one beyond the pending map.
int rf_Queue(const void* data, uint32_t count, uint32_t element_size, uint32_t position);
// 1 when any of `length` bytes of the pending map from `position` is still queued, 0 when
// none is; -1 (87) beyond the map or without a writer.
int rf_IsPending(uint32_t position, uint32_t length);
// Flushes everything queued and ends the thread. 0, or -1 with the writer's first failure.
int rf_StopWriter();
