#pragma once
// Reading a device list file (DATPROC.TXT and its kind) line by line; inside the binding.
#include <cstdio>
#include <string>
#include <vector>

#include "qvr/ext/ext.h"

namespace qvr::ext {

class DeviceListReader {
  public:
    DeviceListReader() = default;
    ~DeviceListReader() { close(); }
    DeviceListReader(const DeviceListReader&) = delete;
    DeviceListReader& operator=(const DeviceListReader&) = delete;

    // Opens the file and counts its entries: the count, or -1 with errno.
    int open(const std::string& path);
    void close();
    bool is_open() const { return file_ != nullptr; }
    // The next entry line: true, or false at the end (rewound).
    bool next_line();
    const std::string& line() const { return line_; }
    // The last line split at commas, at most `capacity` fields.
    std::vector<std::string> fields(std::size_t capacity) const;

  private:
    // One physical line, cut to the list's limit; false at the end of the file.
    bool read_physical(std::string& out);

    std::FILE* file_ = nullptr;
    std::string line_;
};

// `name` in `folder`: the exact name when it exists, else the first name that matches it
// without case; empty when there is none.
std::string find_file_any_case(const std::string& folder, const std::string& name);

}  // namespace qvr::ext
