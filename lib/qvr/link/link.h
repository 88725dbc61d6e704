#pragma once
// The server link: every request the library sends to the product's server. A server string
// is classified into a ServerKind; one open link per server string is kept in a process-wide
// table of 100 entries; the request goes to the transport of its kind and the reply text
// becomes the result, errno and the thread's last-error value, with a trace line each.
//
// Request: two letters, optionally a comma and arguments, a NUL, optionally binary data.
// Reply: text; its leading decimal number is the result; "-1,<code>[,<text>]" is a failure.
#include <cstdint>
#include <mutex>

using ServerKind = int32_t;
inline constexpr ServerKind kServerClosed = 0;
inline constexpr ServerKind kServerPipe = 1;
inline constexpr ServerKind kServerSocket = 2;
inline constexpr ServerKind kServerLocalData = 3;
inline constexpr ServerKind kServerWeb = 4;

inline constexpr int kLinkTableSize = 100;
inline constexpr int kLinkServerMax = 1284;  // bytes of a server string, its NUL included
inline constexpr uint32_t kLinkDefaultTimeoutMs = 15000;

inline constexpr int kErrorNotSupported = 50;
inline constexpr int kErrorNoResult = 8001;

// One entry of the connection table. `server` is written once, under the table lock, when
// the entry is claimed, and never changes afterwards; everything else is read and written
// only under `lock`, which a caller holds for one whole exchange.
struct ServerConnection {
    char server[kLinkServerMax] = {};
    ServerKind kind = kServerClosed;
    intptr_t handle = 0;   // the transport's object: a pipe descriptor, a session ...
    uint32_t timeout = 0;  // ms for every exchange of the link; 0 = 15,000
    uint32_t thread = 0;   // thread that opened a kind-3 link
    std::recursive_mutex lock;
};

// ---- Classification ----
// 1 when the string names this machine: null, "", ".", "localhost", "127.0.0.1", the
// computer name or the short host name (without case), or a URL whose host is one of them.
int link_IsLocalServer(const char* server);
// 3 for a "PROVIDER=" string or a path ('/', '\' first, or a drive letter); 1 for a local
// server, a string that is no URL, or a URL without host; 4 for http and https; 3 for file;
// else 2.
ServerKind link_GetServerKind(const char* server);
// 1 when the server is not local and is not reached by the pipe.
int link_IsRemoteServer(const char* server);
// 1 unless `path` is "\\server\..." of a server that is not local.
int link_IsLocalPath(const char* path);

// ---- Links ----
// Finds or opens the link of `server` and returns its entry with the entry lock held, or
// null with the last error of the failure (87 for an over-long string).
ServerConnection* link_GetConnection(const char* server);
// 1 when a link to `server` exists or could be opened, else 0.
int link_Open(const char* server);
// Sends `length` bytes of `request`; `*reply_length` is the reply capacity on entry and the
// reply bytes on return. The reply's result, or -1 with errno and the last error set.
int link_SendRequest(const char* server, const void* request, uint32_t length, void* reply,
                     uint32_t* reply_length);
// link_SendRequest of the text with its NUL.
int link_SendText(const char* server, const char* request, void* reply, uint32_t* reply_length);
// Passes the request to the transport of the entry's kind (entry lock held). Nonzero on
// success; a failed link of kinds 1, 2 and 4 is closed.
int link_Dispatch(ServerConnection* entry, const void* request, uint32_t length, void* reply,
                  uint32_t* reply_length);
// Closes every open link; the next request to each server opens it again.
void link_CloseAll();

// ---- Folders ----
// The path of the product folder `name` ("QVR_CURRENT_CONFIG" ...) of `server` as seen from
// here, in a per-thread buffer valid until the thread's next call.
char* link_ResolveFolder(const char* server, const char* name);

// ---- Replies ----
// What a reply says, read only within its length.
struct LinkReply {
    int result = 0;  // the leading decimal number (saturated to the int range)
    int error = 0;   // for result -1: the code after "-1,", 13 when there is none
    const char* text = nullptr;  // for result -1: what follows the code's comma (not NUL-terminated)
    uint32_t text_length = 0;    // at most up to the first NUL
};
LinkReply link_ParseReply(const char* reply, uint32_t length);
