#include "qvr/rolling/rolling_state.h"

#include <sys/stat.h>

#include "qvr/util/util.h"

namespace qvr::rolling {

RollingState& state() {
    static RollingState rolling;
    return rolling;
}

std::string base_name(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void close_files(RollingState& rf) {
    rf.header_fd.reset();
    rf.write_fd.reset();
    rf.lock_held = false;
}

void reset_offsets(RollingState& rf) {
    rf.current_offset = 0;
    rf.end_offset = 0;
    rf.lock_held = false;
    rf.locked_offset = 0;
}

int list_folder(const std::string& folder,
                const std::function<void(const std::string& entry, const std::string& examined)>& visit) {
    UtilFindHandle* search = util_FindFirst(folder.c_str());
    if (search == nullptr) return -1;
    while (const char* entry = util_FindNext(search)) {
        std::string name(entry);
        if (name.empty() || name[0] == '.') continue;
        std::string examined = name;
        examined.back() = static_cast<char>(static_cast<unsigned char>(examined.back()) & 0x7F);
        visit(name, examined);
    }
    util_FindClose(search);
    return 0;
}

void set_read_only(const std::string& path, bool read_only) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return;
    const mode_t mode = info.st_mode & 07777;
    chmod(path.c_str(), read_only ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR));
}

}  // namespace qvr::rolling
