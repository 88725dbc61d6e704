// Configuration files are edited by people and other tools: load any bytes. The status and
// its message are always set, nothing reaches standard error, and whatever loads is saved
// in a form that loads again, before and after indentation.
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "qvr/xml/xml.h"
#include "qvr/xml/xml_internal.h"

namespace {

// Any library message that escapes the layer's capture would have gone to stderr.
void escaped_structured(void*, xmlErrorPtr) {
    __builtin_trap();
}
void escaped_generic(void*, const char*, ...) {
    __builtin_trap();
}

std::string dumped(XmlDocument* doc) {
    xmlChar* text = nullptr;
    int size = 0;
    {
        qvr::xml::ErrorCapture quiet;
        xmlDocDumpFormatMemoryEnc(qvr::xml::store_of(doc)->doc, &text, &size, "UTF-8", 0);
    }
    if (text == nullptr) __builtin_trap();
    std::string out(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
    xmlFree(text);
    return out;
}

void reloads(const std::string& bytes) {
    qvr::XmlDocumentRef again(xml_NewDocument());
    if (qvr::xml::load_bytes(again.get(), bytes, "saved") != 0) __builtin_trap();
}

// Walks the first level as the loaders do: by name, by id, the children's texts.
void walk(XmlDocument* doc) {
    qvr::XmlNodeRef root(xml_GetRootElement(doc));
    if (!root) __builtin_trap();
    qvr::XmlText root_name(xml_getName(root.get()));
    qvr::XmlNodeRef first(xml_FirstChild(root.get()));
    if (first) {
        qvr::XmlText name(xml_getName(first.get()));
        qvr::XmlText text(xml_getText(first.get()));
        if (name && qvr::xml::node_of(first.get())->type == XML_ELEMENT_NODE) {
            // By its local name (a prefix may stand for another namespace at the parent). A
            // name with characters outside Windows-1252 comes back with '?' and is refused.
            const char* colon = std::strchr(name.get(), ':');
            qvr::XmlNodeRef found(xml_FindByName(root.get(), colon != nullptr ? colon + 1 : name.get()));
            if (!found && xml_GetStatus() >= 0) __builtin_trap();
        }
    }
    qvr::XmlNodeRef by_id(xml_FindByAttribute(root.get(), "Channel", "id", "1"));
    XmlNameText pairs[8] = {};
    int n = xml_IterateChan(by_id ? by_id.get() : root.get(), pairs, 8);
    for (int i = 0; i < n; ++i) {
        std::free(pairs[i].name);
        std::free(pairs[i].text);
    }
    xml_ResetStatus();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        qvr::xml::ensure_library();
        xmlSetStructuredErrorFunc(nullptr, escaped_structured);
        xmlSetGenericErrorFunc(nullptr, escaped_generic);
        return true;
    }();
    (void)installed;
    qvr::XmlDocumentRef doc(xml_NewDocument());
    xml_SetSubject("");
    xml_SetOperation("");
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    int rc = qvr::xml::load_bytes(doc.get(), bytes, "fuzz");
    if (rc == 0) {
        if (xml_GetStatus() != kXmlStatusGood) __builtin_trap();
        reloads(dumped(doc.get()));
        walk(doc.get());
        qvr::XmlNodeRef root(xml_GetRootElement(doc.get()));
        if (xml_IndentTree(doc.get(), root.get(), 0) != 0) __builtin_trap();
        reloads(dumped(doc.get()));
    } else {
        if (rc != -1 || xml_GetStatus() >= 0) __builtin_trap();
        const char* text = xml_GetErrorText();
        if (std::strncmp(text, " - Xml Load Failed (fuzz)", 25) != 0) __builtin_trap();
    }
    return 0;
}
