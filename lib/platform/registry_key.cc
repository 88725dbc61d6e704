#include "platform/registry_key.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "platform/last_error.h"

namespace platform {
namespace {

int locate(RegistryHive hive, std::string_view path, std::string& normalized, bool& exists) {
    if (!registry_normalize_path(path, normalized)) return kErrorInvalidParameter;
    std::shared_ptr<const RegistryDocument> doc;
    if (int rc = registry_load(hive, doc); rc != 0) return rc;
    exists = doc->key_exists(normalized);
    return 0;
}

std::vector<uint8_t> wire_bytes(const RegistryValue& value) {
    std::vector<uint8_t> bytes = value.data;
    if (value.type == kRegSz) bytes.push_back(0);
    return bytes;
}

}  // namespace

int RegistryKey::open(RegistryHive hive, std::string_view path, uint32_t access, RegistryKey& key) {
    std::string normalized;
    bool exists = false;
    if (int rc = locate(hive, path, normalized, exists); rc != 0) return rc;
    if (!exists) return kErrorFileNotFound;
    key.open_ = true;
    key.hive_ = hive;
    key.path_ = std::move(normalized);
    key.access_ = access;
    return 0;
}

int RegistryKey::create(RegistryHive hive, std::string_view path, uint32_t access, RegistryKey& key,
                        bool* created) {
    std::string normalized;
    bool exists = false;
    if (int rc = locate(hive, path, normalized, exists); rc != 0) return rc;
    if (created != nullptr) *created = !exists;
    key.open_ = true;
    key.hive_ = hive;
    key.path_ = std::move(normalized);
    key.access_ = access;
    return 0;
}

int RegistryKey::find(std::string_view name, RegistryValue& value) const {
    if (!open_) return kErrorInvalidHandle;
    if ((access_ & kKeyQueryValue) == 0) return kErrorAccessDenied;
    std::shared_ptr<const RegistryDocument> doc;
    if (int rc = registry_load(hive_, doc); rc != 0) return rc;
    const RegistryKeySection* section = doc->find_key(path_);
    const RegistryValue* found = section != nullptr ? section->find_value(name) : nullptr;
    if (found == nullptr) return kErrorFileNotFound;
    value = *found;
    return 0;
}

int RegistryKey::query_value(std::string_view name, uint32_t* type, void* data, uint32_t* size) const {
    if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
    RegistryValue value;
    if (int rc = find(name, value); rc != 0) return rc;
    const std::vector<uint8_t> bytes = wire_bytes(value);
    const auto needed = static_cast<uint32_t>(bytes.size());
    if (type != nullptr) *type = value.type;
    if (data != nullptr) {
        if (*size < needed) {
            *size = needed;
            return kErrorMoreData;
        }
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    }
    if (size != nullptr) *size = needed;
    return 0;
}

int RegistryKey::query_value(std::string_view name, RegistryValue& value) const {
    return find(name, value);
}

int RegistryKey::query_string(std::string_view name, std::string& text) const {
    RegistryValue value;
    if (int rc = find(name, value); rc != 0) return rc;
    if (value.type != kRegSz) return kErrorUnsupportedType;
    text.assign(value.data.begin(), value.data.end());
    return 0;
}

int RegistryKey::query_dword(std::string_view name, uint32_t& number) const {
    RegistryValue value;
    if (int rc = find(name, value); rc != 0) return rc;
    if (value.type != kRegDword || value.data.size() != 4) return kErrorUnsupportedType;
    number = static_cast<uint32_t>(value.data[0]) | static_cast<uint32_t>(value.data[1]) << 8 |
             static_cast<uint32_t>(value.data[2]) << 16 | static_cast<uint32_t>(value.data[3]) << 24;
    return 0;
}

int RegistryKey::set_value(std::string_view name, uint32_t type, const void* data, uint32_t size) {
    if (!open_) return kErrorInvalidHandle;
    if ((access_ & kKeySetValue) == 0 || path_.empty()) return kErrorAccessDenied;
    if (!registry_value_name_valid(name) || (data == nullptr && size != 0)) return kErrorInvalidParameter;
    RegistryValue value{std::string(name), type, {}};
    if (size != 0) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        value.data.assign(bytes, bytes + size);
    }
    if (!registry_normalize_value(type, value.data)) return kErrorInvalidParameter;
    return registry_update(hive_, [&](RegistryDocument& doc) {
        RegistryKeySection& section = doc.key(path_);
        if (RegistryValue* existing = section.find_value(name)) {
            existing->type = value.type;
            existing->data = value.data;
        } else {
            section.values.push_back(value);
        }
        return 0;
    });
}

int RegistryKey::set_string(std::string_view name, std::string_view text) {
    return set_value(name, kRegSz, text.data(),
                     static_cast<uint32_t>(std::min(text.size(), kRegistryMaxValueSize + 1)));
}

int RegistryKey::set_dword(std::string_view name, uint32_t number) {
    const std::array<uint8_t, 4> bytes = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                                          static_cast<uint8_t>(number >> 16),
                                          static_cast<uint8_t>(number >> 24)};
    return set_value(name, kRegDword, bytes.data(), 4);
}

int RegistryKey::delete_value(std::string_view name) {
    if (!open_) return kErrorInvalidHandle;
    if ((access_ & kKeySetValue) == 0) return kErrorAccessDenied;
    return registry_update(hive_, [&](RegistryDocument& doc) {
        if (doc.find_key(path_) == nullptr) return kErrorFileNotFound;
        RegistryKeySection& section = doc.key(path_);
        for (auto it = section.values.begin(); it != section.values.end(); ++it) {
            if (registry_names_equal(it->name, name)) {
                section.values.erase(it);
                return 0;
            }
        }
        return kErrorFileNotFound;
    });
}

int RegistryKey::subkey_names(std::vector<std::string>& names) const {
    names.clear();
    if (!open_) return kErrorInvalidHandle;
    if ((access_ & kKeyEnumerateSubKeys) == 0) return kErrorAccessDenied;
    std::shared_ptr<const RegistryDocument> doc;
    if (int rc = registry_load(hive_, doc); rc != 0) return rc;
    names = doc->subkey_names(path_);
    return 0;
}

int RegistryKey::values(std::vector<RegistryValue>& values) const {
    values.clear();
    if (!open_) return kErrorInvalidHandle;
    if ((access_ & kKeyQueryValue) == 0) return kErrorAccessDenied;
    std::shared_ptr<const RegistryDocument> doc;
    if (int rc = registry_load(hive_, doc); rc != 0) return rc;
    if (const RegistryKeySection* section = doc->find_key(path_)) values = section->values;
    return 0;
}

int registry_connect(std::string_view machine) {
    if (machine.substr(0, 2) == "\\\\") machine.remove_prefix(2);
    if (machine.empty() || machine == "." || registry_names_equal(machine, "localhost")) return 0;
    std::array<char, 256> host{};
    if (gethostname(host.data(), host.size() - 1) == 0 && registry_names_equal(machine, host.data()))
        return 0;
    return kErrorBadNetPath;
}

}  // namespace platform
