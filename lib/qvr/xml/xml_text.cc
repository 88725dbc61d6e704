// Record texts are Windows-1252 bytes; the documents hold UTF-8.
#include <iconv.h>
#include <libxml/tree.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "qvr/xml/xml_internal.h"

namespace {

// The five bytes Windows-1252 leaves undefined stand for the C1 controls of the same
// number, as the platform the files come from converts them.
bool undefined_in_1252(unsigned char byte) {
    return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

bool all_ascii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can into out; returns false at a sequence it cannot convert
    // (in and left then point at it), true at the end of the input.
    bool run(char*& in, size_t& left, std::string& out) {
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char chunk[512];
        while (left > 0) {
            char* dst = chunk;
            size_t room = sizeof chunk;
            size_t rc = ::iconv(cd_, &in, &left, &dst, &room);
            out.append(chunk, static_cast<size_t>(dst - chunk));
            if (rc != static_cast<size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            return false;
        }
        return true;
    }

  private:
    iconv_t cd_;
};

Converter& to_utf8_converter() {
    thread_local Converter c("UTF-8", "WINDOWS-1252");
    return c;
}

Converter& from_utf8_converter() {
    thread_local Converter c("WINDOWS-1252", "UTF-8");
    return c;
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
size_t sequence_length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

}  // namespace

namespace qvr::xml {

bool to_utf8(std::string_view text, std::string& out) {
    out.clear();
    if (all_ascii(text)) {
        out.assign(text);
        return true;
    }
    Converter& c = to_utf8_converter();
    if (!c.ok()) return false;
    std::string input(text);
    char* in = input.data();
    size_t left = input.size();
    while (!c.run(in, left, out)) {
        unsigned char byte = static_cast<unsigned char>(*in);
        if (!undefined_in_1252(byte)) return false;
        out.push_back(static_cast<char>(0xC2));
        out.push_back(static_cast<char>(byte));
        ++in;
        --left;
    }
    return true;
}

std::string from_utf8(const xmlChar* text) {
    std::string out;
    if (text == nullptr) return out;
    std::string_view view(cc(text));
    if (all_ascii(view)) return std::string(view);
    Converter& c = from_utf8_converter();
    std::string input(view);
    char* in = input.data();
    size_t left = input.size();
    if (!c.ok()) {
        for (unsigned char ch : view) out.push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
        return out;
    }
    while (!c.run(in, left, out)) {
        unsigned char lead = static_cast<unsigned char>(in[0]);
        size_t length = sequence_length(lead);
        if (length > left) length = left;
        if (length == 2 && lead == 0xC2 && undefined_in_1252(static_cast<unsigned char>(in[1]))) {
            out.push_back(in[1]);
        } else {
            out.push_back('?');  // no Windows-1252 byte for this character
        }
        in += length;
        left -= length;
    }
    return out;
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
