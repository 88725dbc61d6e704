// The process's three translation tables: loaded once under an exclusive lock, read under a
// shared one.
#include "log_stores/translations/translations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "log_stores/translations/translation_file.h"
#include "log_stores/translations/translations_testing.h"
#include "log_stores/translations/wide_text.h"
#include "platform/host_identity.h"
#include "platform/last_error.h"
#include "platform/remote_path.h"
#include "platform/unique_fd.h"
#include "qvr/diag/sink.h"
#include "qvr/link/link.h"
#include "qvr/settings/reg.h"

namespace {

using log_stores::translations::TranslationTable;

constexpr int kTableCount = 3;
constexpr const char* kTableNames[kTableCount] = {"tags", "descriptions", "units"};
constexpr std::size_t kServerNameMax = 1284;
// A translation file beyond this is refused as too large to hold.
constexpr off_t kLargestFile = off_t{256} << 20;
constexpr int kErrorNotEnoughMemory = 8;

std::shared_mutex g_mutex;
bool g_loaded = false;
std::array<TranslationTable, kTableCount> g_tables;

struct Message {
    char* buffer;
    std::size_t size;

    void set(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (buffer == nullptr || size == 0) return;
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, size, format, args);
        va_end(args);
    }
};

// A folder text as the file system sees it: another machine's path mapped, '\' as '/'.
std::optional<std::string> local_folder(const char* folder) {
    std::string local;
    if (platform::is_remote_path(folder)) {
        if (platform::map_remote_path(folder, local) != 0) return std::nullopt;
    } else {
        local = folder;
    }
    for (char& c : local)
        if (c == '\\') c = '/';
    while (local.size() > 1 && local.back() == '/') local.pop_back();
    return local;
}

// 1 with the table read (or none: no file), 0 with the message.
int load_table(const char* server, int index, const char* name, Message message) {
    if (index < 0 || index >= kTableCount || name == nullptr) {
        message.set("CAN'T ACCESS TRANSLATIONS FILE %s - ERROR %d", name != nullptr ? name : "",
                    platform::kErrorInvalidParameter);
        return 0;
    }
    const char* resolved = link_ResolveFolder(server, "QVR_TRANSLATIONS");
    const std::optional<std::string> folder =
        resolved != nullptr ? local_folder(resolved) : std::optional<std::string>{};
    if (!folder) {
        message.set("CAN'T ACCESS TRANSLATIONS DIRECTORY - ERROR %d", platform::last_error());
        return 0;
    }
    g_tables[static_cast<std::size_t>(index)] = TranslationTable{};
    std::string path = *folder + "/" + name + ".txt";
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd && errno == ENOENT) {
        path = *folder + "/" + name + ".csv";
        fd = platform::UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd && errno == ENOENT) return 1;
    }
    if (!fd) {
        message.set("CAN'T ACCESS TRANSLATIONS FILE %s - ERROR %d", path.c_str(), errno);
        return 0;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || st.st_size <= 0) {
        message.set("CAN'T GET FILE SIZE OR EMPTY TRANSLATIONS FILE %s - ERROR %d", path.c_str(),
                    st.st_size == 0 ? 0 : errno);
        return 0;
    }
    std::vector<std::byte> content;
    try {
        if (st.st_size > kLargestFile) throw std::bad_alloc();
        content.resize(static_cast<std::size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        message.set("CAN'T ALLOCATE MEMORY FOR TRANSLATIONS FILE %s - ERROR %d", path.c_str(), kErrorNotEnoughMemory);
        return 0;
    }
    std::size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::read(fd.get(), content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            message.set("CAN'T READ TRANSLATIONS FILE %s - ERROR %d", path.c_str(), n == 0 ? 38 : errno);
            return 0;
        }
        got += static_cast<std::size_t>(n);
    }
    TranslationTable table;
    try {
        table = TranslationTable::parse(content);
    } catch (const std::bad_alloc&) {
        message.set("CAN'T ALLOCATE MEMORY FOR TRANSLATIONS FROM FILE %s - ERROR %d", path.c_str(),
                    kErrorNotEnoughMemory);
        return 0;
    }
    if (table.size() == 0) {
        message.set("NO TRANSLATIONS PARSED IN FILE %s - USE <tab> or <comma> as a SEPARATOR", path.c_str());
        return 0;
    }
    g_tables[static_cast<std::size_t>(index)] = std::move(table);
    return 1;
}

// Under the exclusive lock.
int load_all(const char* server, char* buffer, std::size_t size) {
    g_loaded = true;
    for (auto& t : g_tables) t = TranslationTable{};
    char own[kTranslationMessageSize] = "";
    const bool given = buffer != nullptr && size > 0;
    const Message message{given ? buffer : own, given ? size : sizeof own};
    for (int i = 0; i < kTableCount; ++i) {
        if (load_table(server, i, kTableNames[i], message) == 1) continue;
        if (!given) sink_Report(nullptr, 4, own);
        return 0;
    }
    return 1;
}

void ensure_loaded() {
    {
        std::shared_lock lock(g_mutex);
        if (g_loaded) return;
    }
    const std::string server = GetTranslationServer();
    std::unique_lock lock(g_mutex);
    if (!g_loaded) load_all(server.c_str(), nullptr, 0);
}

// Copies at most capacity - 1 units of `text` and a terminator.
void copy_out(std::u16string_view text, char16_t* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) return;
    const std::size_t n = log_stores::translations::cut_at_character(text, capacity - 1);
    std::copy_n(text.begin(), n, out);
    out[n] = u'\0';
}

template <std::size_t N>
const char16_t* translate_into(char16_t (&buffer)[N], int index, const char* text) {
    Translate(index, text, buffer, N);
    return buffer;
}

}  // namespace

int LoadTranslations(const char* server, char* message, std::size_t message_size) {
    std::unique_lock lock(g_mutex);
    return load_all(server, message, message_size);
}

int LoadTranslationTable(const char* server, int index, const char* name, char* message,
                         std::size_t message_size) {
    std::unique_lock lock(g_mutex);
    return load_table(server, index, name, Message{message, message_size});
}

int Translate(int index, const char* text, char16_t* out, std::size_t capacity) {
    const std::u16string wide = log_stores::translations::widen_1252(text != nullptr ? text : "");
    ensure_loaded();
    if (index >= 0 && index < kTableCount) {
        std::shared_lock lock(g_mutex);
        if (const auto found = g_tables[static_cast<std::size_t>(index)].find(wide)) {
            copy_out(*found, out, capacity);
            return 1;
        }
    }
    copy_out(wide, out, capacity);
    return 0;
}

const char16_t* TranslateDescription(const qvr::ChannelRecord* record) {
    thread_local char16_t buffer[qvr::kDescriptionMax + 1];
    return translate_into(buffer, kTranslateDescriptions, chanrec_GetDescription(record));
}

const char16_t* TranslateTag(const qvr::ChannelRecord* record) {
    thread_local char16_t buffer[qvr::kTagMax + 1];
    return translate_into(buffer, kTranslateTags, chanrec_GetTag(record));
}

const char16_t* TranslateUnits(const qvr::ChannelRecord* record) {
    thread_local char16_t buffer[qvr::kUnitsMax + 1];
    return translate_into(buffer, kTranslateUnits, chanrec_GetUnits(record));
}

void FreeTranslations() {
    std::unique_lock lock(g_mutex);
    for (auto& t : g_tables) t = TranslationTable{};
    g_loaded = false;
}

const char* GetTranslationServer() {
    thread_local char server[kServerNameMax + 1];
    uint32_t type = 0;
    uint32_t size = sizeof server;
    std::memset(server, 0, sizeof server);
    const int rc = reg_AccessProductValue(platform::RegistryHive::user, kProductKey, platform::kKeyQueryValue,
                                          "ServerName", &type, server, &size);
    server[kServerNameMax] = '\0';
    if (rc != 0 || type != kRegSz || server[0] == '\0') {
        const std::string& computer = platform::computer_name();
        std::snprintf(server, sizeof server, "%s", computer.c_str());
    }
    return server;
}

namespace log_stores::translations_testing {

void reset() {
    FreeTranslations();
}

}  // namespace log_stores::translations_testing
