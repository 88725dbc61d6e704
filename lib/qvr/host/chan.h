#pragma once
// Writers of output values into a device's or processor's data module. Each applies the
// channel's alarm, warning, event and logger-trigger rules (when the module's owner leaves
// them to the writer), posts the notices (qvr/host/alarm.h) and wakes the module's watchers; when
// the owner runs them itself, it is sent code 305 instead. Channels are 1-based; `values`
// holds last - first + 1 entries (bit 0 of a digital value is the new state).
//
// Plain forms take the module's lock and write changed channels only, stamping notices with
// this computer's and user's names; As forms take the names from the caller; All forms
// process every output channel of the range; Locked forms expect the caller to hold the
// module's lock. 0, or -1 when the module is missing, has no processing class, the range is
// invalid (first or last 0 or beyond the channel count, 67) or (analog) the module is not an
// 8-byte module. Never call them while holding an event module's lock.
//
// A notice that cannot be sent does not fail the write, whose values are stored all the
// same: the loss is traced. When no batch could begin (event module missing or not lockable)
// the write's notices and logger triggers are kept, at most 1024 in the process (beyond that
// the oldest go, traced), and the module's next batch that begins posts them ahead of its
// own; the write traces that it kept them and leaves the reason as the last error.
#include <cstdint>

int chan_SetDigitalValues(const char* code, int first, int last, const uint32_t* values);
int chan_SetDigitalValuesAs(const char* code, int first, int last, const uint32_t* values,
                            const char* computer, const char* user);
int chan_SetDigitalValuesAll(const char* code, int first, int last, const uint32_t* values);
int chan_SetDigitalValuesLocked(const char* code, int first, int last, const uint32_t* values);

int chan_SetAnalogValues(const char* code, int first, int last, const float* values);
int chan_SetAnalogValuesAs(const char* code, int first, int last, const float* values, const char* computer,
                           const char* user);
int chan_SetAnalogValuesAll(const char* code, int first, int last, const float* values);
int chan_SetAnalogValuesLocked(const char* code, int first, int last, const float* values);

// When set, the writers wake the module's watchers other than this process
// (shm_SignalOthers) instead of all of them. Process-wide; start clear.
void chan_SetDigitalSignalOthers(int flag);
void chan_SetAnalogSignalOthers(int flag);
