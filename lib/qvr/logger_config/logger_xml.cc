#include "qvr/logger_config/logger_xml.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_xml_fields.h"
#include "qvr/logger_config/logger_config.h"
#include "qvr/logger_config/logger_mirror.h"
#include "qvr/logger_config/logger_types.h"
#include "qvr/schema/schema.h"

namespace qvr::logger {
namespace {

void set_subject(std::string_view kind_name, int number) {
    const std::string subject = "Logger " + std::string(kind_name) + "_" + std::to_string(number);
    xml_SetSubject(subject.c_str());
    xml_SetOperation("");
}

}  // namespace

std::string xml_file_name(std::string_view kind_name, int number) {
    return std::string(kind_name) + "_" + std::to_string(number) + ".xml";
}

cfg::LoadOutcome load_xml(const std::string& path, std::string_view kind_name, int number, LoggerKind kind,
                          std::span<std::uint8_t> scratch, bool strict) {
    xml_ResetStatus();
    set_subject(kind_name, number);
    const StructsType* type = logger_type(kind);
    cfg::LoadOutcome outcome = cfg::LoadOutcome::loaded;
    const XmlDocumentRef doc = cfg::load_document(path, strict, outcome);
    if (!doc) return outcome;
    XmlNodeRef root(xml_GetRootElement(doc.get()));
    XmlNodeRef logger;
    if (root) logger.reset(xml_FindByName(root.get(), "Logger"));
    bool good = static_cast<bool>(logger);
    if (!good) xml_SetStatus(kXmlStatusFailed, "<Logger> tag not found");
    FoundFieldList found;
    if (good) {
        const cfg::LeafReading how{"<%s> %s", strict, true};
        good = cfg::read_leaves(logger.get(), type, cfg::leaf_names(type, scratch.data()), scratch.data(), found, how);
    }
    if (good || !strict) {
        if (kind == LoggerKind::stand) {
            std::string bad_field;
            if (fill_second_layout(scratch, bad_field) != 0 && strict) {
                const std::string message = "<" + bad_field + "> invalid hexadecimal text";
                xml_SetStatus(kXmlStatusFailed, message.c_str());
                good = false;
            }
        } else if (kind == LoggerKind::repub) {
            fill_repub_cycle_codes(scratch);
        }
    }
    if (!strict) return cfg::LoadOutcome::loaded;
    const std::string kind_text(kind_name);
    if (good && cfg_CheckLoggerElements(&found, kind_text.c_str(), scratch.data()) != 0) good = false;
    if (good && xml_GetStatus() >= 0) return cfg::LoadOutcome::loaded;
    cfg::report_xml_failure();
    return cfg::LoadOutcome::failed;
}

int write_xml(const std::string& dir, std::string_view kind_name, int number, LoggerKind kind,
              std::span<const std::uint8_t> record) {
    const StructsType* type = logger_type(kind);
    XmlDocumentRef doc(xml_NewDocument());
    set_subject(kind_name, number);
    if (!doc) return cfg::report_xml_failure();
    // The description is read over a copy of the kind's full size, whatever the caller gave.
    std::vector<std::uint8_t> copy(record_size(kind), 0);
    if (!record.empty()) std::memcpy(copy.data(), record.data(), std::min(record.size(), copy.size()));
    if (kind == LoggerKind::stand) fill_typed_fields(copy);

    const std::string word(kind_name);
    XmlNodeRef root = cfg::start_document(doc.get(), "Loggers", word);
    XmlNodeRef logger(xml_AddChildElement(doc.get(), "Logger", root.get()));
    cfg::LeafPlace place;
    cfg::write_leaves(doc.get(), logger.get(), type, cfg::leaf_names(type, copy.data()), copy.data(), place);
    xml_IndentTree(doc.get(), root.get(), 0);
    const std::string path = cfg::existing_file(dir, xml_file_name(kind_name, number));
    xml_SaveFile(doc.get(), path.c_str());
    if (xml_GetStatus() < 0) return cfg::report_xml_failure();
    // A schema that cannot be written is reported by its writer; the file stays written.
    cfg_WriteLoggerSchema(dir.c_str(), word.c_str(), type, copy.data(), static_cast<std::int32_t>(copy.size()));
    return 0;
}

}  // namespace qvr::logger
