#pragma once
// Starting the host's processor programs. A program is found by name in the QVR_BIN folder,
// then on the PATH, started with posix_spawn (never a shell) and reaped when it ends.
#include <sys/types.h>
#include <cstdint>

struct ProcessRecord;

// Creation flags that mean something here: a new process group, a detached session.
inline constexpr uint32_t kProcCreateNewProcessGroup = 0x200;
inline constexpr uint32_t kProcCreateDetached = 0x8;
// How long proc_Start waits for a started program to become ready.
inline constexpr int kProcReadyTimeoutMs = 30000;

// Registers the processor's status entry, re-reads its enable switch from the "config" file
// of the folder named ProcName (below the current folder) and, when it is enabled and runs a
// program, starts it there and waits until it is ready (ProcReady), it ends, or 30 s passed.
// A record of the process table is found again by its ProcName under the table's lock each
// time it is used, so records that another process moves meanwhile are no harm.
// 0, or -1 with "CAN'T RUN - %04d" as its status text (2 when the record left the table).
int proc_Start(ProcessRecord* record);
// Starts "%.5s_%.2s" of (ProcName, suffix) ("calc" or "opddx" followed by a number count as
// "calc" and "opddx") with the argument "%d" and up to two further texts. Its id or -1.
pid_t proc_Run(const ProcessRecord* record, const char* suffix, int argument, const char* text1 = nullptr,
               const char* text2 = nullptr);
// 1 while process `pid` runs, else 0.
int proc_IsAlive(pid_t pid);
// Flags and descriptor inheritance for later starts (until set: none, inherited).
void proc_SetCreateOptions(uint32_t creation_flags, int inherit_handles);
