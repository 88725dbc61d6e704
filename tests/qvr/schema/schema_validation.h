#pragma once
// Checks a configuration file against a schema with the XML library's own validator.
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace schema_test {

// "" when the file is valid, else the validator's messages.
inline std::string validate(const std::filesystem::path& xml, const std::string& schema_text) {
    std::string errors;
    auto collect = [](void* context, xmlErrorPtr error) {
        std::string& out = *static_cast<std::string*>(context);
        out += std::to_string(error->line) + ": " + (error->message != nullptr ? error->message : "");
    };
    xmlSetStructuredErrorFunc(&errors, collect);
    xmlSchemaParserCtxtPtr parser =
        xmlSchemaNewMemParserCtxt(schema_text.data(), static_cast<int>(schema_text.size()));
    xmlSchemaPtr schema = xmlSchemaParse(parser);
    xmlSchemaFreeParserCtxt(parser);
    if (schema == nullptr) {
        xmlSetStructuredErrorFunc(nullptr, nullptr);
        return "schema does not parse: " + errors;
    }
    xmlDocPtr doc = xmlReadFile(xml.c_str(), nullptr, XML_PARSE_NONET);
    int rc = -1;
    if (doc != nullptr) {
        xmlSchemaValidCtxtPtr valid = xmlSchemaNewValidCtxt(schema);
        xmlSchemaSetValidStructuredErrors(valid, collect, &errors);
        rc = xmlSchemaValidateDoc(valid, doc);
        xmlSchemaFreeValidCtxt(valid);
        xmlFreeDoc(doc);
    }
    xmlSchemaFree(schema);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    return rc == 0 ? std::string() : "invalid (" + std::to_string(rc) + "): " + errors;
}

inline std::string validate(const std::filesystem::path& xml, const std::filesystem::path& xsd) {
    if (!std::filesystem::exists(xsd)) return "no schema " + xsd.string();
    return validate(xml, qvr_test::read_file(xsd));
}

}  // namespace schema_test
