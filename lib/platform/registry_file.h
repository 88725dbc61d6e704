#pragma once
// The text form of one registry hive: a "REGEDIT4" file of key sections and value lines.
//
//   REGEDIT4
//
//   [SOFTWARE\Brevantic\Quorvane]
//   "Name"="text"
//   "Size"=dword:0000001f
//   "Blob"=hex:01,02,03
//   @="default value"
//
// Key and value names compare without case (ASCII) and keep the case they were first
// written with. A line that cannot be read is skipped and reported; it is kept as a
// comment when the file is written again, so a hand edit with a typo is never lost.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

// Value types, with their registry numbers.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

// Limits of the names a hive can hold.
inline constexpr size_t kRegistryMaxKeyNameLength = 255;  // one path component
inline constexpr size_t kRegistryMaxValueNameLength = 16383;
inline constexpr size_t kRegistryMaxValueSize = 1024 * 1024;

struct RegistryValue {
    std::string name;  // "" is the key's default value ("@" in the file)
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;  // REG_SZ: the text without its terminating zero

    bool operator==(const RegistryValue&) const = default;
};

struct RegistryKeySection {
    std::string path;                   // components joined by '\', no leading or trailing '\'
    std::vector<std::string> comments;  // comment lines, written back under the key's header
    std::vector<RegistryValue> values;

    bool operator==(const RegistryKeySection&) const = default;
    const RegistryValue* find_value(std::string_view name) const;
    RegistryValue* find_value(std::string_view name);
};

// A line of the file that was skipped.
struct RegistryParseIssue {
    size_t line = 0;  // 1-based
    std::string text;
};

class RegistryDocument {
  public:
    bool operator==(const RegistryDocument& other) const {
        return preamble_ == other.preamble_ && keys_ == other.keys_;
    }

    const std::vector<RegistryKeySection>& keys() const { return keys_; }
    const std::vector<std::string>& preamble() const { return preamble_; }

    // The section of exactly this key, or nullptr.
    const RegistryKeySection* find_key(std::string_view path) const;
    // The section of this key, appended when missing. `path` must be valid.
    RegistryKeySection& key(std::string_view path);
    // True for a key with its own section and for every key above one (a key exists as
    // soon as anything below it does). The empty path, the hive's root, always exists.
    bool key_exists(std::string_view path) const;
    // Names of the keys directly below `path` (the case of their first appearance).
    std::vector<std::string> subkey_names(std::string_view path) const;
    // Text of `path` and everything below it; equal texts mean equal contents.
    std::string subtree_text(std::string_view path) const;

    void add_preamble_comment(std::string line) { preamble_.push_back(std::move(line)); }

  private:
    std::vector<std::string> preamble_;  // comments before the first key
    std::vector<RegistryKeySection> keys_;
    std::unordered_map<std::string, size_t> index_;  // lower-case path -> position in keys_
};

// Names compare without case (ASCII letters only; other bytes as they are).
bool registry_names_equal(std::string_view a, std::string_view b);

// Checks a key path and brings it to its stored form (a trailing '\' is dropped).
// False for empty components, control characters, over-long names and a leading '-'.
bool registry_normalize_path(std::string_view path, std::string& normalized);
// True when a value name can be stored (no line breaks or zero bytes, bounded length).
bool registry_value_name_valid(std::string_view name);
// Brings value data to its stored form: REG_SZ ends at its first zero byte.
// False when the data does not fit its type (a REG_DWORD is 4 bytes) or is too large.
bool registry_normalize_value(uint32_t type, std::vector<uint8_t>& data);

// Reads a hive file. Never fails: what cannot be read is skipped, listed in `issues` and
// kept as a comment.
RegistryDocument parse_registry_text(std::string_view text,
                                     std::vector<RegistryParseIssue>* issues = nullptr);
// The file text of a document ("REGEDIT4", one section per key, '\n' line ends).
std::string format_registry_text(const RegistryDocument& document);

}  // namespace platform
