// Loading documents: no network, no external entities, parser messages kept per thread
// instead of printed.
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/remote_path.h"
#include "qvr/xml/xml.h"
#include "qvr/xml/xml_internal.h"

namespace qvr::xml {
namespace {

#if LIBXML_VERSION >= 21200
using ErrorPtr = const xmlError*;
#else
using ErrorPtr = xmlErrorPtr;
#endif

void on_structured(void* context, ErrorPtr error) {
    if (error == nullptr) return;
    static_cast<ErrorCapture*>(context)->record(error->code, error->level, error->line, error->message);
}

void on_generic(void*, const char*, ...) {}

bool blank_text(const xmlChar* text) {
    if (text == nullptr) return true;
    for (const xmlChar* c = text; *c != 0; ++c)
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return false;
    return true;
}

// Whitespace between elements is layout, not content: dropped, so that walking a
// channel's children finds only elements and a later save does not indent twice. A blank
// text that is an element's only content is its value and stays.
void drop_layout_whitespace(xmlDocPtr doc) {
    std::vector<xmlNodePtr> blanks;
    xmlNodePtr root = reinterpret_cast<xmlNodePtr>(doc);
    for (xmlNodePtr n = root->children; n != nullptr;) {
        if (n->type == XML_TEXT_NODE && (n->prev != nullptr || n->next != nullptr) && blank_text(n->content))
            blanks.push_back(n);
        if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
            n = n->children;
            continue;
        }
        while (n != root && n->next == nullptr) n = n->parent;
        if (n == root) break;
        n = n->next;
    }
    for (xmlNodePtr n : blanks) {
        xmlUnlinkNode(n);
        xmlFreeNode(n);
    }
}

std::string normalised_path(const char* path) {
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

}  // namespace

ErrorCapture::ErrorCapture()
    : saved_structured_(xmlStructuredError),
      saved_structured_context_(xmlStructuredErrorContext),
      saved_generic_(xmlGenericError),
      saved_generic_context_(xmlGenericErrorContext) {
    ensure_library();
    xmlSetStructuredErrorFunc(this, on_structured);
    xmlSetGenericErrorFunc(nullptr, on_generic);
}

ErrorCapture::~ErrorCapture() {
    xmlSetStructuredErrorFunc(saved_structured_context_, saved_structured_);
    xmlSetGenericErrorFunc(saved_generic_context_, saved_generic_);
}

void ErrorCapture::record(int code, int level, int line, const char* message) {
    if (code == 0) return;
    // Keep the first error; a warning only until an error comes.
    if (code_ != 0 && (level_ >= XML_ERR_ERROR || level < XML_ERR_ERROR)) return;
    code_ = code;
    level_ = level;
    std::string text = message != nullptr ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    text_ = line > 0 ? "line " + std::to_string(line) + ": " + text : text;
}

int load_bytes(XmlDocument* doc, std::string_view bytes, const char* name) {
    ensure_library();
    ErrorCapture capture;
    auto fail = [&](int code) {
        int status = static_cast<int>(kXmlStatusParseBase | (static_cast<unsigned>(code) & 0xFFFFu));
        if (capture.any()) {
            set_failure(status, "Xml Load Failed (%s) %s 0x%8x", name, capture.text().c_str(),
                        static_cast<unsigned>(status));
        } else {
            set_failure(status, "Xml Load Failed (%s)", name);
        }
        return -1;
    };
    if (bytes.size() > static_cast<size_t>(INT_MAX)) return fail(XML_ERR_NO_MEMORY);
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (ctxt == nullptr) return fail(XML_ERR_NO_MEMORY);
    // No XML_PARSE_NOENT or DTD loading: entities stay references, external ones are
    // never read.
    const int options = XML_PARSE_NONET | XML_PARSE_NOXINCNODE;
    xmlDocPtr tree =
        xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), name, nullptr, options);
    const bool well_formed = ctxt->wellFormed != 0 && ctxt->nsWellFormed != 0;
    const int parser_code = ctxt->errNo;
    xmlFreeParserCtxt(ctxt);
    if (tree == nullptr || !well_formed) {
        if (tree != nullptr) xmlFreeDoc(tree);
        int code = capture.any() ? capture.code() : parser_code;
        return fail(code != 0 ? code : XML_ERR_INTERNAL_ERROR);
    }
    drop_layout_whitespace(tree);
    try {
        replace_store(doc, tree);
    } catch (...) {
        xmlFreeDoc(tree);
        throw;
    }
    return 0;
}

}  // namespace qvr::xml

using namespace qvr::xml;

int xml_LoadFile(XmlDocument* doc, const char* path) {
    if (doc == nullptr) return -1;
    return guarded(-1, [&] {
        if (path == nullptr) {
            set_failure(kXmlStatusConversion, "VariantFromChar('%s') failed", "(null)");
            return -1;
        }
        std::string p;
        if (platform::path_to_open(normalised_path(path), p) != 0) {
            const int status = static_cast<int>(kXmlStatusOsBase | static_cast<unsigned>(errno));
            set_failure(status, "Xml Load Failed (%s) %s 0x%8x", path, "Path Not Reachable",
                        static_cast<unsigned>(status));
            return -1;
        }
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
            set_failure(kXmlStatusFileNotFound, "Xml Load Failed (%s), File Not Found", path);
            return 1;
        }
        std::string bytes;
        int error = 0;
        const platform::UniqueFd fd = platform::open_file(p, O_RDONLY);
        if (!fd || platform::read_to_end(fd.get(), bytes, SIZE_MAX) != 0) error = errno;
        if (error != 0) {
            int status = static_cast<int>(kXmlStatusOsBase | static_cast<unsigned>(error));
            set_failure(status, "Xml Load Failed (%s) %s 0x%8x", path, std::strerror(error),
                        static_cast<unsigned>(status));
            return -1;
        }
        return load_bytes(doc, bytes, path);
    });
}
