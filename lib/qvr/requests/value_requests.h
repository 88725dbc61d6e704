#pragma once
// Requests that read or set channel values and that ask or switch the server as a whole.
// Results and errors are those of the link (link_SendRequest); a field that holds its
// request's separator, a NUL, CR or LF is refused before anything is sent (-1, 87).
#include <cstdint>

struct TimeStamp;

inline constexpr uint32_t kValueReplySize = 32768;  // CV and RV replies; `reply` holds this much
inline constexpr int kChannelNameMax = 7;
inline constexpr int kTimeZoneRecordSize = 172;

// "CV,<list>" / "RV,<list>": the reply is left in `reply` (kValueReplySize bytes).
int RequestCurrentValue(const char* server, const char* list, char* reply);
int RequestRV(const char* server, const char* list, char* reply);
// "SV,<channel>,<computer>,<user>," and the value as UTF-16LE with its 2-byte NUL; at most
// 512 bytes in all. A channel name over 7 characters: 0, nothing sent.
int SetChannelText(const char* server, const char* channel, const char16_t* text);
// "FV,<channel>,<value %g with a '.'>,<computer>,<user>".
int SetChannelValue(const char* server, const char* channel, double value);
// "TC,<tag>,<tag>...": `out` gets `count` entries of the 2-letter prefix and the u16 channel
// number of each tag (zeros where the reply ends early).
int RequestTagChannels(const char* server, const char* const* tags, int count, uint8_t* out);

int RequestDS(const char* server);
// Enables the server; on this machine it also starts the processors that run from the
// desktop. -1 with errno 0 when such a processor cannot be started from here.
int RequestES(const char* server);
int RequestRS(const char* server);
int RequestAS(const char* server, const char* text);
int RequestOS(const char* server);
// "BS": the number, then two texts cut to their sizes.
int RequestBS(const char* server, int* number, char* text1, uint32_t size1, char* text2, uint32_t size2);
// "SE,<device>,<size>": the setup text after the reply's first comma, cut to `size`.
int RequestSE(const char* server, const char* device, char* text, uint32_t size);

// The server's time (and zone, 172 bytes): a local server is answered from this machine.
// 0, or -1 with the link's error; what was not received is zeros.
int GetServerTimeZone(const char* server, TimeStamp* stamp, uint8_t* zone);
int GetServerTime(const char* server, TimeStamp* stamp);
