#pragma once
// The debug trace: one per process, created by name, switched on and off by a service
// engineer in the registry while the program runs (values "<name>_Debug" = "ON...",
// "<name>_DebugType" with "CON" and/or "FILE", "<name>_DebugFile" under
// SOFTWARE\Brevantic\<product> of the machine hive). Output goes to standard error
// ("CON"), the trace file ("FILE") and the debugger channel (platform/debug_output.h), which
// gets whole lines prefixed "<name> : ". Every message is masked (platform/secret_mask.h).
// Safe to call from any thread.
#include <cstddef>

// Destroys any trace of this process, then creates one for `name` (at most 131 characters).
void trace_Create(const char* name);
// Closes the trace's file and forgets it.
void trace_Destroy();
// Writes one message. 1 when a trace exists (whether or not anything is on), else 0.
int trace_Write(const char* text);
// Writes each byte as a message "0x%02x ".
void trace_WriteHex(const void* bytes, size_t count);
// 1 when any output is on.
int trace_IsOn();

// Counting hooks of the communication layers; the counter settings are read, nothing
// counts yet.
void trace_RxCount(int n);
void trace_TxCount(int n);
void trace_RxTimeoutCount(int n);
void trace_TxTimeoutCount(int n);
void trace_RxCommErrorCount(int n);
void trace_TxCommErrorCount(int n);
void trace_RxCrcErrorCount(int n);
void trace_TxCrcErrorCount(int n);
void trace_RxGoodPacketCount(int n);
void trace_TxGoodPacketCount(int n);
