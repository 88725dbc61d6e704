// Saving documents: a whole new file beside the old one, synced, then renamed over it, so
// a crash or a full disk never leaves a torn file (a malformed file blocks every later
// save of its device).
#include <libxml/tree.h>

#include <cerrno>
#include <cstdint>
#include <span>
#include <string>

#include "platform/file_save.h"
#include "platform/remote_path.h"

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

int write_replacing(const std::string& path, const unsigned char* data, size_t size) {
    std::string local;
    if (platform::path_to_open(path, local) != 0) return errno;
    if (platform::save_file(local, std::span<const std::uint8_t>(data, size)) != 0) return errno;
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
