#include "platform/registry_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <utility>

#include "platform/ascii_text.h"

namespace platform {
namespace {

constexpr std::string_view kFileHeader = "REGEDIT4";
constexpr std::string_view kSkippedPrefix = "; skipped: ";
constexpr size_t kHexLineWidth = 76;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim_left(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view trim_right(std::string_view s) {
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) {
    return trim_right(trim_left(s));
}

// True when `path` is `parent` itself or lies below it.
bool path_within(std::string_view path, std::string_view parent) {
    if (parent.empty()) return true;
    if (!starts_with_ignoring_case(path, parent)) return false;
    return path.size() == parent.size() || path[parent.size()] == '\\';
}

std::optional<uint32_t> parse_hex_u32(std::string_view s, size_t max_digits) {
    if (s.empty() || s.size() > max_digits) return std::nullopt;
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

// A quoted text starting at s[0] == '"'; `s` is advanced past the closing quote.
// Only \\ and \" are escapes, as the file format has always had it.
std::optional<std::string> parse_quoted(std::string_view& s) {
    if (s.empty() || s.front() != '"') return std::nullopt;
    std::string out;
    size_t i = 1;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') break;
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return std::nullopt;
            c = s[++i];
        }
        out.push_back(c);
    }
    if (i >= s.size()) return std::nullopt;
    s.remove_prefix(i + 1);
    return out;
}

void append_quoted(std::string& out, std::string_view text) {
    out.push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

// "01,02, ab" (continuation pieces already joined); empty text is no bytes.
std::optional<std::vector<uint8_t>> parse_hex_bytes(std::string_view s) {
    std::vector<uint8_t> bytes;
    if (trim(s).empty()) return bytes;
    while (true) {
        size_t comma = s.find(',');
        std::string_view token = trim(s.substr(0, comma));
        auto byte = parse_hex_u32(token, 2);
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(*byte));
        if (comma == std::string_view::npos) break;
        s.remove_prefix(comma + 1);
    }
    return bytes;
}

struct ParsedValue {
    RegistryValue value;
    bool is_hex = false;  // hex data may continue on the next lines
};

// The part of a value line before its data: the name and the '='.
// Returns the data text, or nullopt.
std::optional<std::string_view> split_value_line(std::string_view line, std::string& name) {
    std::string_view s = trim_left(line);
    if (s.empty()) return std::nullopt;
    if (s.front() == '@') {
        name.clear();
        s.remove_prefix(1);
    } else {
        auto quoted = parse_quoted(s);
        if (!quoted) return std::nullopt;
        name = std::move(*quoted);
    }
    s = trim_left(s);
    if (s.empty() || s.front() != '=') return std::nullopt;
    s.remove_prefix(1);
    return trim_left(s);
}

bool data_is_hex(std::string_view data) {
    return starts_with_ignoring_case(data, "hex");
}

std::optional<RegistryValue> parse_value(std::string_view name_and_data) {
    RegistryValue value;
    auto data = split_value_line(name_and_data, value.name);
    if (!data || !registry_value_name_valid(value.name)) return std::nullopt;
    std::string_view s = *data;
    if (!s.empty() && s.front() == '"') {
        auto text = parse_quoted(s);
        if (!text || !trim(s).empty()) return std::nullopt;
        value.type = kRegSz;
        value.data.assign(text->begin(), text->end());
    } else if (starts_with_ignoring_case(s, "dword:")) {
        auto number = parse_hex_u32(trim_right(s.substr(6)), 8);
        if (!number) return std::nullopt;
        value.type = kRegDword;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(*number >> (8 * i)));
    } else if (starts_with_ignoring_case(s, "hex:")) {
        auto bytes = parse_hex_bytes(s.substr(4));
        if (!bytes) return std::nullopt;
        value.type = kRegBinary;
        value.data = std::move(*bytes);
    } else if (starts_with_ignoring_case(s, "hex(")) {
        size_t close = s.find("):");
        if (close == std::string_view::npos) return std::nullopt;
        auto type = parse_hex_u32(s.substr(4, close - 4), 8);
        auto bytes = parse_hex_bytes(s.substr(close + 2));
        if (!type || !bytes) return std::nullopt;
        value.type = *type;
        value.data = std::move(*bytes);
    } else {
        return std::nullopt;
    }
    if (!registry_normalize_value(value.type, value.data)) return std::nullopt;
    return value;
}

// Hex data of regedit files continues on indented lines while a line ends in '\'.
bool is_continuation_line(std::string_view line) {
    if (line.empty() || !is_blank(line.front())) return false;
    std::string_view t = trim_left(line);
    return !t.empty() && t.front() != ';';
}

void append_hex(std::string& out, std::string_view prefix, const std::vector<uint8_t>& data) {
    static constexpr std::array<char, 16> kDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                     '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    size_t line_start = out.rfind('\n') + 1;  // npos + 1 == 0
    out += prefix;
    for (size_t i = 0; i < data.size(); ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 0x0f]);
        if (i + 1 == data.size()) break;
        out.push_back(',');
        if (out.size() - line_start >= kHexLineWidth) {
            out += "\\\n  ";
            line_start = out.size() - 2;
        }
    }
}

bool printable_text(const std::vector<uint8_t>& data) {
    return std::all_of(data.begin(), data.end(), [](uint8_t b) { return b >= 0x20 && b != 0x7f; });
}

void append_value(std::string& out, const RegistryValue& value) {
    if (value.name.empty()) {
        out.push_back('@');
    } else {
        append_quoted(out, value.name);
    }
    out.push_back('=');
    if (value.type == kRegSz && printable_text(value.data)) {
        append_quoted(out,
                      std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size()));
    } else if (value.type == kRegSz) {
        // Line breaks and control bytes cannot stand in a quoted text: keep them as bytes.
        std::vector<uint8_t> with_zero = value.data;
        with_zero.push_back(0);
        append_hex(out, "hex(1):", with_zero);
    } else if (value.type == kRegDword && value.data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i) number = (number << 8) | value.data[i];
        std::array<char, 9> digits{};
        auto [end, ec] = std::to_chars(digits.data(), digits.data() + 8, number, 16);
        (void)ec;
        std::string_view hex(digits.data(), static_cast<size_t>(end - digits.data()));
        out += "dword:";
        out.append(8 - hex.size(), '0');
        out += hex;
    } else if (value.type == kRegBinary) {
        append_hex(out, "hex:", value.data);
    } else {
        std::array<char, 8> digits{};
        auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), value.type, 16);
        (void)ec;
        std::string prefix = "hex(";
        prefix.append(digits.data(), end);
        prefix += "):";
        append_hex(out, prefix, value.data);
    }
    out.push_back('\n');
}

void append_section(std::string& out, const RegistryKeySection& section) {
    out += '[';
    out += section.path;
    out += "]\n";
    for (const auto& comment : section.comments) {
        out += comment;
        out.push_back('\n');
    }
    for (const auto& value : section.values) append_value(out, value);
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

class Parser {
  public:
    Parser(RegistryDocument& doc, std::vector<RegistryParseIssue>* issues) : doc_(doc), issues_(issues) {}

    void run(std::string_view text) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        lines_ = split_lines(text);
        bool header_seen = false;
        for (i_ = 0; i_ < lines_.size(); ++i_) {
            std::string_view line = lines_[i_];
            std::string_view t = trim(line);
            if (t.empty()) continue;
            if (t.front() == ';') {
                keep(std::string(line));
                continue;
            }
            if (!header_seen) {
                header_seen = true;
                if (t == kFileHeader) continue;
            }
            if (line.find('\0') != std::string_view::npos) {
                skip(i_, 1);
            } else if (t.front() == '[') {
                section_line(t);
            } else {
                value_line();
            }
        }
    }

  private:
    void keep(std::string line) {
        if (has_section_) {
            doc_.key(current_).comments.push_back(std::move(line));
        } else {
            doc_.add_preamble_comment(std::move(line));
        }
    }

    void skip(size_t first, size_t count) {
        std::string joined;
        for (size_t k = first; k < first + count; ++k) {
            keep(std::string(kSkippedPrefix) + std::string(lines_[k]));
            if (k != first) joined.push_back('\n');
            joined += lines_[k];
        }
        if (issues_ != nullptr) issues_->push_back({first + 1, std::move(joined)});
    }

    void section_line(std::string_view t) {
        std::string path;
        if (t.size() >= 3 && t.back() == ']' && registry_normalize_path(t.substr(1, t.size() - 2), path) &&
            !path.empty() && t[1] != '\\' && t[t.size() - 2] != '\\') {
            current_ = doc_.key(path).path;
            has_section_ = true;
            in_bad_section_ = false;
            return;
        }
        // Lines below a key that cannot be read belong to no key: skip them too.
        skip(i_, 1);
        in_bad_section_ = true;
    }

    void value_line() {
        size_t first = i_;
        std::string joined(lines_[i_]);
        std::string name;
        auto data = split_value_line(lines_[i_], name);
        if (data && data_is_hex(*data)) {
            while (!trim_right(joined).empty() && trim_right(joined).back() == '\\' &&
                   i_ + 1 < lines_.size() && is_continuation_line(lines_[i_ + 1])) {
                joined.resize(trim_right(joined).size() - 1);
                joined += lines_[++i_];
            }
        }
        std::optional<RegistryValue> value;
        if (has_section_ && !in_bad_section_) value = parse_value(joined);
        if (!value) {
            skip(first, i_ - first + 1);
            return;
        }
        RegistryKeySection& section = doc_.key(current_);
        // An index, so a key with very many values still reads in linear time.
        auto [it, added] = values_.try_emplace(
            ascii_lower_copy(current_) + '\n' + ascii_lower_copy(value->name), section.values.size());
        if (added) {
            section.values.push_back(std::move(*value));
        } else {
            section.values[it->second].type = value->type;
            section.values[it->second].data = std::move(value->data);
        }
    }

    RegistryDocument& doc_;
    std::vector<RegistryParseIssue>* issues_;
    std::vector<std::string_view> lines_;
    size_t i_ = 0;
    std::unordered_map<std::string, size_t> values_;  // path '\n' name -> position in its key
    std::string current_;                             // path of the section being read
    bool has_section_ = false;
    bool in_bad_section_ = false;
};

}  // namespace

bool registry_names_equal(std::string_view a, std::string_view b) {
    return equal_ignoring_case(a, b);
}

bool registry_normalize_path(std::string_view path, std::string& normalized) {
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    normalized.clear();
    if (path.empty()) return true;
    if (path.front() == '-') return false;  // "[-key]" is a removal in the file format
    std::string_view rest = path;
    while (true) {
        size_t sep = rest.find('\\');
        std::string_view part = rest.substr(0, sep);
        if (part.empty() || part.size() > kRegistryMaxKeyNameLength) return false;
        for (char c : part) {
            if (static_cast<unsigned char>(c) < 0x20) return false;
        }
        if (sep == std::string_view::npos) break;
        rest.remove_prefix(sep + 1);
    }
    normalized.assign(path);
    return true;
}

bool registry_value_name_valid(std::string_view name) {
    return name.size() <= kRegistryMaxValueNameLength &&
           name.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool registry_normalize_value(uint32_t type, std::vector<uint8_t>& data) {
    if (data.size() > kRegistryMaxValueSize) return false;
    if (type == kRegDword) return data.size() == 4;
    if (type == kRegSz) {
        auto zero = std::find(data.begin(), data.end(), uint8_t{0});
        data.erase(zero, data.end());
    }
    return true;
}

const RegistryValue* RegistryKeySection::find_value(std::string_view name) const {
    for (const auto& value : values) {
        if (registry_names_equal(value.name, name)) return &value;
    }
    return nullptr;
}

RegistryValue* RegistryKeySection::find_value(std::string_view name) {
    return const_cast<RegistryValue*>(std::as_const(*this).find_value(name));
}

const RegistryKeySection* RegistryDocument::find_key(std::string_view path) const {
    auto it = index_.find(ascii_lower_copy(path));
    return it != index_.end() ? &keys_[it->second] : nullptr;
}

RegistryKeySection& RegistryDocument::key(std::string_view path) {
    auto [it, added] = index_.try_emplace(ascii_lower_copy(path), keys_.size());
    if (added) keys_.push_back(RegistryKeySection{std::string(path), {}, {}});
    return keys_[it->second];
}

bool RegistryDocument::key_exists(std::string_view path) const {
    if (path.empty()) return true;
    return std::any_of(keys_.begin(), keys_.end(), [&](const auto& s) { return path_within(s.path, path); });
}

std::vector<std::string> RegistryDocument::subkey_names(std::string_view path) const {
    std::vector<std::string> names;
    for (const auto& section : keys_) {
        if (!path_within(section.path, path) || section.path.size() == path.size()) continue;
        std::string_view rest = std::string_view(section.path).substr(path.empty() ? 0 : path.size() + 1);
        std::string_view name = rest.substr(0, rest.find('\\'));
        bool known = std::any_of(names.begin(), names.end(),
                                 [&](const auto& n) { return registry_names_equal(n, name); });
        if (!known) names.emplace_back(name);
    }
    return names;
}

std::string RegistryDocument::subtree_text(std::string_view path) const {
    std::string out;
    for (const auto& section : keys_) {
        if (path_within(section.path, path)) append_section(out, section);
    }
    return out;
}

RegistryDocument parse_registry_text(std::string_view text, std::vector<RegistryParseIssue>* issues) {
    RegistryDocument doc;
    Parser(doc, issues).run(text);
    return doc;
}

std::string format_registry_text(const RegistryDocument& document) {
    std::string out(kFileHeader);
    out.push_back('\n');
    for (const auto& comment : document.preamble()) {
        out += comment;
        out.push_back('\n');
    }
    for (const auto& section : document.keys()) {
        out.push_back('\n');
        append_section(out, section);
    }
    return out;
}

}  // namespace platform
