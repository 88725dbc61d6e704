// Record texts are Windows-1252 bytes; the documents hold UTF-8.
#include <libxml/tree.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "platform/windows_1252.h"
#include "qvr/xml/xml_internal.h"

namespace qvr::xml {

// Every Windows-1252 byte has a code point, so this cannot fail; the result stays for callers
// that check it.
bool to_utf8(std::string_view text, std::string& out) {
    out = platform::utf8_from_windows_1252(text);
    return true;
}

std::string from_utf8(const xmlChar* text) {
    if (text == nullptr) return {};
    return platform::windows_1252_from_utf8(cc(text));
}

char* allocated_from_utf8(const xmlChar* text) {
    std::string converted = from_utf8(text);
    char* copy = static_cast<char*>(std::malloc(converted.size() + 1));
    if (copy == nullptr) throw std::bad_alloc();
    std::memcpy(copy, converted.c_str(), converted.size() + 1);
    return copy;
}

bool valid_xml_chars(std::string_view bytes) {
    for (unsigned char c : bytes)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    return true;
}

bool valid_qname(std::string_view utf8) {
    if (utf8.empty()) return false;
    std::string name(utf8);
    if (name.find('\0') != std::string::npos) return false;
    // One prefix at most; each part a name without colons.
    size_t colon = name.find(':');
    if (colon != std::string::npos && name.find(':', colon + 1) != std::string::npos) return false;
    return xmlValidateQName(xc(name), 0) == 0;
}

}  // namespace qvr::xml
