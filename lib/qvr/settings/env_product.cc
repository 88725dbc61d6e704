#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/ascii_text.h"
#include "platform/file_paths.h"
#include "platform/last_error.h"
#include "platform/registry_file.h"
#include "qvr/settings/env.h"
#include "qvr/settings/reg.h"
#include "qvr/util/rt.h"
#include "qvr/util/util.h"

extern char** environ;

namespace {

using platform::RegistryHive;

constexpr size_t kNameMax = 249;  // a name whose length plus 7 exceeds 256 is refused
// Room for the longest root (259) with a separator and the longest name.
constexpr size_t kResultSize = 520;
constexpr size_t kRootSize = 260;

thread_local char t_variable[kResultSize];
thread_local char t_user_folder[kResultSize];
thread_local char t_root[kRootSize];

std::string_view without_prefix(std::string_view name) {
    return platform::starts_with_ignoring_case(name, "QVR_") ? name.substr(4) : name;
}

char* keep(char* buffer, size_t capacity, std::string_view text) {
    const size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
    return buffer;
}

// The hive a reference names: only the machine and user hives exist here; the other words
// are known but hold nothing.
enum class HiveWord { unknown, machine, user, empty };

HiveWord hive_of(std::string_view word) {
    if (platform::equal_ignoring_case(word, "LocalMachine")) return HiveWord::machine;
    if (platform::equal_ignoring_case(word, "CurrentUser")) return HiveWord::user;
    for (const char* other : {"ClassesRoot", "Users", "PerformanceData", "CurrentConfig", "DynData"})
        if (platform::equal_ignoring_case(word, other)) return HiveWord::empty;
    return HiveWord::unknown;
}

// "\LocalMachine\SOFTWARE\Brevantic\Quorvane\Bin" read into the result buffer; false when
// malformed or unreadable.
bool read_reference(std::string_view reference) {
    if (reference.empty() || reference[0] != '\\') return false;
    const size_t hive_end = reference.find('\\', 1);
    if (hive_end == std::string_view::npos) return false;
    const size_t last = reference.rfind('\\');
    const std::string_view value_name = reference.substr(last + 1);
    if (value_name.empty()) return false;
    const HiveWord hive = hive_of(reference.substr(1, hive_end - 1));
    if (hive != HiveWord::machine && hive != HiveWord::user) return false;
    const std::string key_path(last > hive_end ? reference.substr(hive_end + 1, last - hive_end - 1) : "");
    const std::string value(value_name);
    char text[kResultSize];
    uint32_t type = kRegSz;
    uint32_t size = sizeof text;
    if (reg_AccessProductValue(hive == HiveWord::machine ? RegistryHive::machine : RegistryHive::user,
                               key_path.c_str(), platform::kKeyQueryValue, value.c_str(), &type, text,
                               &size) != 0 ||
        type != kRegSz)
        return false;
    text[std::min<size_t>(size, sizeof text - 1)] = 0;
    keep(t_variable, sizeof t_variable, text);
    return true;
}

bool is_redirectable(std::string_view name) {
    const std::string_view bare = without_prefix(name);
    for (const char* folder : {"REPLAY_OPTIONS", "EXPORTED_DATA", "EXPORTED_IMAGES"})
        if (platform::equal_ignoring_case(bare, folder)) return true;
    return false;
}

// The variable's value; names were once compared without case, so an exact match is tried
// first and then one that differs in case only.
const char* find_variable(const std::string& name) {
    if (const char* value = std::getenv(name.c_str())) return value;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const size_t equals = text.find('=');
        if (equals == name.size() && platform::equal_ignoring_case(text.substr(0, equals), name))
            return *entry + equals + 1;
    }
    return nullptr;
}

}  // namespace

char* env_GetVariable(const char* name) {
    if (name == nullptr || std::strlen(name) > kNameMax) {
        platform::set_last_error(EINVAL);
        return nullptr;
    }
    std::string variable(name);
    if (platform::starts_with_ignoring_case(variable, "QV4_")) variable = "QVR_" + variable.substr(4);
    const char* value = find_variable(variable);
    if (value == nullptr) {
        std::string word(without_prefix(variable));
        util_ToUpper(word.data(), word.size());
        return keep(t_variable, sizeof t_variable, std::string(env_GetProductRootFolder()) + "/" + word);
    }
    const std::string_view text(value);
    if (text.size() >= 2 && text.front() == '%' && text.back() == '%' &&
        read_reference(text.substr(1, text.size() - 2)))
        return t_variable;
    return const_cast<char*>(value);
}

char* env_GetProductFolder(const char* name) {
    char* path = env_GetVariable(name);
    if (path == nullptr || !is_redirectable(name)) return path;
    const std::filesystem::path folder(path);
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) util_MakeDirectory(path);  // errors: the check decides
    if (util_CheckFileAccess(path, kGenericWrite) != 0) return path;

    std::filesystem::path user = platform::user_data_folder();
    if (user.empty()) return path;
    std::filesystem::create_directories(user, ec);
    const mode_t mode = rt_GetOpenSecurityAttributes()->folder_mode;
    for (const std::string& level :
         {std::string("Brevantic"), std::string(reg_GetProductName()), std::string(without_prefix(name))}) {
        user /= level;
        platform::make_directory(user, mode);
    }
    return keep(t_user_folder, sizeof t_user_folder, user.string());
}

const char* env_GetRootFolder(const char* product_name) {
    std::string root = std::string("/opt/") + (product_name != nullptr ? product_name : "");
    char value[kRootSize];
    uint32_t type = kRegSz;
    uint32_t size = sizeof value;
    if (reg_AccessProductValue(RegistryHive::machine, kProductKey, platform::kKeyQueryValue, "Root:", &type,
                               value, &size) == 0 &&
        type == kRegSz && size > 1) {
        value[std::min<size_t>(size, sizeof value - 1)] = 0;
        root = value;
        std::replace(root.begin(), root.end(), '\\', '/');  // a value written on the original platform
    }
    return keep(t_root, sizeof t_root, root);
}

const char* env_GetProductRootFolder() {
    return env_GetRootFolder(reg_GetProductName());
}

char env_GetRootDrive() {
    return '/';
}

int util_CheckFileAccess(const char* path, unsigned access) {
    if (path == nullptr) return 0;
    int mode = 0;
    if ((access & (kGenericRead | kGenericAll | 0x0001u)) != 0) mode |= platform::kAccessRead;
    if ((access & (kGenericWrite | kGenericAll | 0x0002u | 0x0004u)) != 0) mode |= platform::kAccessWrite;
    if ((access & (kGenericExecute | kGenericAll | 0x0020u)) != 0) mode |= platform::kAccessExecute;
    return platform::file_access_allowed(path, mode) ? 1 : 0;
}
