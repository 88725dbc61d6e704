// Text files anyone may edit, read as files: any bytes, 8-bit or UTF-16 (odd lengths, no
// CR LF, lines longer than a read piece, CR LF or a surrogate pair across a piece boundary)
// are read section by section and line by line without writing past the caller's buffers,
// and every line handed out lies inside the buffer and ends with its NUL.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "../qvr/fuzz_temp_folder.h"
#include "log_stores/text_files/logger_text_files.h"

using namespace log_stores::text_files;

namespace {

constexpr char kCanary = '\x7f';
constexpr char16_t kWideCanary = u'\x7f7f';

const std::string& file_path() {
    static const std::string path = (fuzz_support::process_folder("/tmp/text_section_file.XXXXXX") / "f.txt").string();
    return path;
}

template <class Char>
void check_lines(const std::vector<Char>& buffer, std::size_t capacity, const Char* const* lines, std::size_t count,
                 Char canary) {
    for (std::size_t i = capacity; i < buffer.size(); ++i)
        if (buffer[i] != canary) __builtin_trap();
    for (std::size_t i = 0; i < count; ++i) {
        if (lines[i] < buffer.data() || lines[i] >= buffer.data() + capacity) __builtin_trap();
        const Char* end = lines[i];
        while (end < buffer.data() + capacity && *end != Char{}) ++end;
        if (end == buffer.data() + capacity) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::size_t capacity = data[0] * 4u;  // small buffers find the edge cases
    const std::size_t table = data[1] % 8;
    {
        std::ofstream out(file_path(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data) + 2, static_cast<std::streamsize>(size - 2));
    }
    for (const char* section : {"TEXT", "[HEADER]", "X"}) {
        std::size_t needed = 0;
        const int lines = ReadSection(file_path(), section, nullptr, &needed);
        if (lines < 0) __builtin_trap();

        std::vector<char> narrow(capacity + 8, kCanary);
        std::size_t narrow_size = capacity;
        const int taken = ReadSection(file_path(), section, narrow.data(), &narrow_size);
        if (taken < 0 || taken > lines || (taken > 0 && narrow_size > capacity)) __builtin_trap();
        check_lines<char>(narrow, capacity, nullptr, 0, kCanary);

        // The UTF-16 reading keeps a UTF-16 file's own units, so its lines may be longer, but
        // never more or fewer.
        std::size_t wide_needed = 0;
        if (ReadSectionW(file_path(), section, nullptr, &wide_needed) != lines) __builtin_trap();
        std::vector<char16_t> wide(capacity + 8, kWideCanary);
        std::size_t wide_size = capacity;
        const int wide_taken = ReadSectionW(file_path(), section, wide.data(), &wide_size);
        if (wide_taken < 0 || wide_taken > lines || (wide_taken > 0 && wide_size > capacity)) __builtin_trap();
        check_lines<char16_t>(wide, capacity, nullptr, 0, kWideCanary);

        std::vector<const char*> starts(table + 1);  // never empty: a null table only counts
        std::size_t count = table;
        std::fill(narrow.begin(), narrow.end(), kCanary);
        narrow_size = capacity;
        if (ReadSectionLines(file_path(), section, starts.data(), &count, narrow.data(), &narrow_size) != 0)
            __builtin_trap();
        if (count > table) __builtin_trap();
        check_lines<char>(narrow, capacity, starts.data(), count, kCanary);

        std::vector<const char16_t*> wide_starts(table + 1);
        count = table;
        std::fill(wide.begin(), wide.end(), kWideCanary);
        wide_size = capacity;
        if (ReadSectionLinesW(file_path(), section, wide_starts.data(), &count, wide.data(), &wide_size) != 0)
            __builtin_trap();
        if (count > table) __builtin_trap();
        check_lines<char16_t>(wide, capacity, wide_starts.data(), count, kWideCanary);
    }
    return 0;
}
