#pragma once
// General utilities of the runtime library: case conversion, time-stamped file names,
// folder listing, file sizes and declared lengths, bitmaps and channel-address texts.
// Failures: -1, 0 or null with the reason in errno and the last-error value.
#include <cstddef>
#include <cstdint>

// Convert up to `n` characters (stopping at a terminating zero) in place; ASCII letters only.
char* util_ToLower(char* text, size_t n);
char* util_ToUpper(char* text, size_t n);

// The stamp (6 digits yymmdd or 12 digits yymmddhhmmss, the two halves optionally split by
// one '.' or '_') that ends `name` right before `suffix` (compared without case; empty
// matches anything). Returns its start within `name`, or null.
const char* util_FindTrailingStamp(const char* name, const char* suffix);
int util_HasTrailingStamp(const char* name, const char* suffix);

// Finds the file of `folder` whose trailing stamp (before `suffix`) is the latest and copies
// its name into `name` (capacity bytes, zero-terminated). 1 found, 0 none, -1 when the
// folder cannot be listed or the name does not fit (122).
int util_FindNewestStamped(const char* folder, char* name, size_t capacity, const char* suffix);

// Folder listing: every entry name, "." and ".." included, in the folder's order.
struct UtilFindHandle;
UtilFindHandle* util_FindFirst(const char* folder);
// The next entry name (valid until the next call on this handle), or null at the end.
const char* util_FindNext(UtilFindHandle* handle);
void util_FindClose(UtilFindHandle* handle);

// Size of the open file, or -1.
int64_t util_GetFileSize(int fd);
// Length declared in the header of a binary data file (u32 length, u16 tag 0x8001..0xE001,
// both byte-swapped when the tag reads 384..480). The file is rewound. Returns the declared
// length when the file holds at least that much; a shorter file returns its size with error
// number 5; -1 for a header shorter than 6 bytes or a bad tag.
int64_t util_GetDeclaredLength(int fd);
// Creates one folder with the open security attributes. 0 or -1 (EEXIST when it exists).
int util_MakeDirectory(const char* path);
// Deletes a file whose name may be enclosed in double quotes. 0 or -1.
int util_DeleteQuoted(const char* path);

// Bit n of a bitmap is 0x80 >> (n % 8) of byte n / 8.
void util_BitClear(uint8_t* bitmap, uint32_t n);
void util_BitSet(uint8_t* bitmap, uint32_t n);
int util_BitTest(const uint8_t* bitmap, uint32_t n);

// "AI12" -> "AI", 12; "A1K" -> "A", 1000. `prefix` receives up to two letters, zero-filled
// (3 bytes). 0, or -1 for a text that is not a channel address.
int util_ParseChannelAddress(const char* text, char prefix[3], int* number);
// Digits only, or the "1K" form, at most 5 digits. 0 or -1.
int util_ParseChannelNumber(const char* text, int* number);

int util_NoOp();
