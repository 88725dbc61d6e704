#pragma once
// Files of a server that no path of this machine reaches, read and written by requests whose
// tab-separated fields begin with a path of a product folder key
// ("QVR_CURRENT_CONFIG\dev\config"). The read and write calls take an open descriptor,
// which they use directly, or kInvalidFileHandle with a server and a path, which makes them
// send a request. A field holding a tab, NUL, CR or LF is refused before anything is sent
// (-1 or 0, error 87).
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kInvalidFileHandle = -1;
inline constexpr uint32_t kRemoteReadMax = 65512;
inline constexpr uint32_t kRemoteWriteRequestMax = 32768;
inline constexpr int kRemoteNameSlot = 256;

// A FILETIME: 100-ns intervals since 1601.
struct FileTime {
    uint32_t low;
    uint32_t high;
};

int link_RequestUF(const char* server, const char* path);
int link_RequestNF(const char* server, const char* path);
int link_RequestOF(const char* server, const char* path);
int link_RequestBF(const char* server, const char* path);
int link_RequestEF(const char* server, const char* path1, const char* path2);
// On result 1 the reply text after its first two characters, cut to `size`.
int link_RequestMF(const char* server, const char* path, const char* text, char* out, uint32_t size);

// Every name matching `pattern` in `folder`, into consecutive 256-byte slots of `names` (at
// most `count`; null counts only). The number of names, or -1: 13 for a page that holds a
// name of 256 characters or more, or a full page that adds no new name; 234 past the bounds
// of a listing (directory_pages.h). A failed listing writes a trace line.
int link_ListDirectory(const char* server, const char* folder, const char* pattern, int count, char* names);
namespace qvr::requests {
// The same listing into `names`, which grows with the names that actually arrive (no slot
// is sized from a count), never past the bounds of a listing. The number of names, or -1
// (names empty).
int list_directory(const char* server, const char* folder, const char* pattern, std::vector<std::string>& names);
}  // namespace qvr::requests
// "SF": the file's size, or -1. `reply` (9 bytes) gets the reply when given.
int link_OpenRemoteFile(const char* server, const char* path, uint32_t access, uint32_t share, int security,
                        uint32_t disposition, uint32_t attributes, char* reply);
// 1, or 0 with the last error.
int link_GetFileTime(const char* server, int handle, const char* path, FileTime* creation,
                     FileTime* last_access, FileTime* last_write);
int link_ReadFile(const char* server, int handle, const char* path, uint32_t count, int32_t offset,
                  int method, uint32_t access, uint32_t share, int security, uint32_t disposition,
                  uint32_t attributes, void* buffer, uint32_t* bytes_read);
int link_WriteFile(const char* server, int handle, const char* path, uint32_t count, int32_t offset,
                   int method, uint32_t access, uint32_t share, int security, uint32_t disposition,
                   uint32_t attributes, const void* data, uint32_t* bytes_written);

// Copies "QVR_CURRENT_CONFIG\<folder>\<name>" of the server to the local file `target`,
// whole or not at all (a failure leaves the old target). 0, or -1 with errno.
int cfg_FetchRemoteFile(const char* server, const char* folder, const char* name, const char* target);
