#pragma once
// Filters consume input bytes and produce output bytes. They run once over a memory block
// (filter_run) or sit between a caller and a stream (filter_stream_open).
#include <sys/types.h>
#include <cstddef>
#include <cstdio>

struct Filter {
    // Moves up to len pending output bytes into buf; 0 when none is pending; -1 on error.
    ssize_t (*read)(Filter* f, void* buf, std::size_t len);
    // Input bytes consumed, or -1 with errno.
    ssize_t (*write)(Filter* f, const void* data, std::size_t len);
    // No more input follows: pending partial groups are completed. 0 / -1.
    int (*end)(Filter* f);
    // Estimated output size for an input size (forward 1), or input size for an output
    // size (forward 0).
    std::size_t (*convert)(Filter* f, std::size_t len, int forward);
    // Releases the filter and clears *fp.
    void (*destroy)(Filter** fp);
};

// Flags of filter_stream_open.
inline constexpr int kFilterNoCloseStream = 0x01;    // leave the underlying stream open
inline constexpr int kFilterNoDestroyFilter = 0x02;  // leave the filter to the caller

// Runs the input through the filter into a new zero-terminated block allocated under mtype;
// with final set the filter's end is called. Returns the output length, or -1 with *output
// null.
ssize_t filter_run(Filter* f, const void* input, std::size_t len, int final, char** output,
                   const char* mtype);

// A stream that reads (mode "r") or writes (mode "w") through the filter; other modes fail
// with EINVAL. Closing it ends the filter (write mode), then closes the underlying stream
// and destroys the filter unless the flags say otherwise.
std::FILE* filter_stream_open(Filter* f, std::FILE* fp, int flags, const char* mode);
