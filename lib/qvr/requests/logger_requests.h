#pragma once
// Logger requests: counting, listing (with the LOGCAP.TXT fallback), state, naming and
// control, and the disabling of every enabled logger around processor and device control
// when "ReconfigureLoggers" is on. Results as for the processor requests.
#include <cstdint>
#include <functional>
#include <string>

#include "qvr/requests/request_records.h"

inline constexpr int kLoggersMax = 2000;

int CountLoggers(const char* server);
// "IL,<selector>"; a "*,<n>" selector is sent only while n * 150 fits the 32,768-byte reply.
int GetLoggerInfo(const char* server, const char* selector, LoggerInfoRecord* records, int capacity);
int GetLoggerState(const char* server, const char* selector, LoggerStateRecord* records, int capacity);
// "NL,<number>": on result 1 the name (cut to `size`), else an empty name.
int GetLoggerName(const char* server, int number, char* name, uint32_t size);
int ReadLogger(const char* server, const char* name);
// `code`: F or S (either case) or a number of at least 256; any other: -1, errno 0.
int ControlLogger(const char* server, int code, const char* name);
int DisableLogger(const char* server, const char* name);
int EnableLogger(const char* server, const char* name);
// "ML,<a>,<b>", "XL,<a>,<b>", "YL,<a>,<b>".
int RequestML(const char* server, const char* first, const char* second);
int RequestXL(const char* server, const char* first, const char* second);
int RequestYL(const char* server, const char* first, const char* second);

// 1 when "ReconfigureLoggers" under the product key begins with "ON" (any case). Only this
// machine's registry can be read: a pipe server elsewhere gives 0.
int IsReconfigureLoggersOn(const char* server);
// Disables every enabled logger (after the user's Yes) and keeps, per thread, which were
// disabled. 0 when nothing was to be done or the user said No; -1 when the loggers cannot be
// listed or one cannot be disabled (those disabled so far are enabled again).
int DisableLoggers(const char* server);
// Enables again every logger the thread's DisableLoggers disabled; tries each, -1 when one
// failed (named in the trace). The kept list is emptied.
int ReenableLoggers(const char* server);

namespace qvr {

// The Yes/No question of DisableLoggers, answered by the application (a dialog); without
// one the answer is No. Returns the previous one.
using YesNoQuestion = std::function<bool(const std::string& title, const std::string& text)>;
YesNoQuestion set_yes_no_question(YesNoQuestion question);

}  // namespace qvr
