// Saving documents: a whole new file beside the old one, synced, then renamed over it, so
// a crash or a full disk never leaves a torn file (a malformed file blocks every later
// save of its device).
#include <fcntl.h>
#include <libxml/tree.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "qvr/xml/xml.h"
#include "qvr/xml/xml_internal.h"

using namespace qvr::xml;

namespace {

std::string normalised_path(const char* path) {
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

int save_failure(const char* path, int error) {
    int status = static_cast<int>(kXmlStatusOsBase | static_cast<unsigned>(error));
    const char* reason = "Error";
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            reason = "Access Denied";
            break;
        case ENOMEM:
            reason = "Out Of Memory";
            break;
        case EINVAL:
        case ENAMETOOLONG:
        case ENOENT:
        case ENOTDIR:
        case EISDIR:
        case ELOOP:
            reason = "Invalid filename";
            break;
        default:
            break;
    }
    if (reason[0] == 'E') {
        set_failure(status, "Save XML File (%s) failed, Error 0x%x", path, static_cast<unsigned>(status));
    } else {
        set_failure(status, "Save XML File (%s) failed, %s 0x%x", path, reason,
                    static_cast<unsigned>(status));
    }
    return status;
}

// Writes all bytes; errno on failure.
bool write_all(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The folder of `path`, for syncing the rename.
std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int write_replacing(const std::string& path, const unsigned char* data, size_t size) {
    std::string temporary = path + ".tmp";
    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int error = 0;
    // A new file gets the umask's mode; a rewritten one keeps the mode it was given.
    if (existed && ::fchmod(fd, old.st_mode & 07777) != 0) error = errno;
    if (error == 0 && (!write_all(fd, data, size) || ::fsync(fd) != 0)) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    int folder = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return 0;
}

}  // namespace

int xml_SaveFile(XmlDocument* doc, const char* path) {
    if (doc == nullptr) return -1;
    return guarded(-1, [&] {
        if (path == nullptr) {
            set_failure(kXmlStatusConversion, "VariantFromChar('%s') failed", "(null)");
            return kXmlStatusConversion;
        }
        ErrorCapture quiet;
        xmlChar* text = nullptr;
        int size = 0;
        xmlDocDumpFormatMemoryEnc(store_of(doc)->doc, &text, &size, "UTF-8", 0);
        if (text == nullptr || size < 0) {
            xmlFree(text);
            return save_failure(path, ENOMEM);
        }
        int error = write_replacing(normalised_path(path), text, static_cast<size_t>(size));
        xmlFree(text);
        return error != 0 ? save_failure(path, error) : 0;
    });
}
