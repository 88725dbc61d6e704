// Writing a device's settings as "config.xml".
#include <cstring>
#include <vector>

#include "qvr/cfg_config_header.h"
#include "qvr/cfg_device_config.h"
#include "qvr/cfg_device_config_internal.h"
#include "qvr/cfg_file_io.h"
#include "qvr/cfg_xml_fields.h"
#include "qvr/schema.h"

namespace qvr::cfg {
namespace {

std::span<const std::uint8_t> bytes(const void* data, std::int32_t size) {
    return {static_cast<const std::uint8_t*>(data),
            data != nullptr && size > 0 ? static_cast<std::size_t>(size) : 0};
}

void write_header(XmlDocument* doc, XmlNode* config, const DeviceSettingsIn& in) {
    ConfigHeader header{};
    std::vector<std::string> names;
    if (in.auto_enable != nullptr) {
        header.AutoEnable = *in.auto_enable;
        names.emplace_back("AutoEnable");
    }
    if (in.save_outputs != nullptr) {
        header.SaveOutputs = *in.save_outputs;
        names.emplace_back("SaveOutputs");
    }
    if (in.save_by_tag != nullptr) {
        header.SaveByTag = *in.save_by_tag;
        names.emplace_back("SaveByTag");
    }
    if (in.save_rate != nullptr) {
        header.SaveRate = static_cast<std::uint32_t>(*in.save_rate);
        names.emplace_back("SaveRate");
    }
    write_leaves(doc, config, &ConfigHeaderType, names, &header, true);
}

// The leaves of a plug-in's form of a record; the form is padded so that the description
// never reads past it.
void write_form(XmlDocument* doc, XmlNode* config, const ExtType& type, std::vector<std::uint8_t> form) {
    if (!type) return;
    form = padded(std::move(form), type->size);
    write_leaves(doc, config, type.get(), leaf_names(type.get(), form.data()), form.data(), true);
}

}  // namespace

int write_config_xml(const Extension& e, const std::string& dir, const DeviceSettingsIn& in) {
    XmlDocumentRef doc(xml_NewDocument());
    xml_SetSubject(last_component(dir).c_str());
    xml_SetOperation("Dev/Proc Config");
    if (!doc) return report_xml_failure();
    const std::string path = existing_file(dir, kConfigXmlFile);
    XmlNodeRef root;
    XmlNodeRef config;
    const int loaded = xml_LoadFile(doc.get(), path.c_str());
    if (loaded == 1) {
        // No file yet: a new document.
        xml_ResetStatus();
        doc.reset(xml_NewDocument());
        if (!doc) return report_xml_failure();
        root = start_document(doc.get(), "Configs", device_prefix5(dir));
        config.reset(xml_AddChildElement(doc.get(), "Config", root.get()));
    } else if (loaded == 0) {
        root.reset(xml_GetRootElement(doc.get()));
        if (root) config.reset(xml_FindByName(root.get(), "Config"));
        if (root && !config) config.reset(xml_AddChildElement(doc.get(), "Config", root.get()));
    }
    if (xml_GetStatus() >= 0) {
        write_header(doc.get(), config.get(), in);
        const auto record = bytes(in.record, in.size);
        const auto extra = bytes(in.extra, in.extra_size);
        if (in.record != nullptr)
            write_form(doc.get(), config.get(), e.config_type(record), e.undecorate_config(record));
        if (in.extra != nullptr)
            write_form(doc.get(), config.get(), e.config_extra_type(record, extra),
                       e.undecorate_config_extra(record, extra));
        xml_IndentTree(doc.get(), root.get(), 0);
        xml_SaveFile(doc.get(), path.c_str());
    }
    if (xml_GetStatus() < 0) return report_xml_failure();
    if (in.record != nullptr)
        write_config_schema(e, dir.c_str(), in.record, in.size, in.extra, in.extra_size);
    return 0;
}

}  // namespace qvr::cfg

int cfg_WriteConfigXml(const char* user, const char* dir, const void* record, int32_t size, const void* extra,
                       int32_t extra_size, const uint8_t* auto_enable, const uint8_t* save_outputs,
                       const uint8_t* save_by_tag, const int32_t* save_rate) {
    (void)user;  // the XML form records no author
    using namespace qvr::cfg;
    if (!valid_request(dir, size, extra_size, nullptr)) return -1;
    const std::string folder = normalized_path(dir);
    const auto lock = FolderLock::acquire(folder);
    if (!lock) return -1;
    const qvr::Extension extension = qvr::Extension::load(folder);
    DeviceSettingsIn in{record,      size,         extra,       extra_size, nullptr,
                        auto_enable, save_outputs, save_by_tag, save_rate};
    xml_ResetStatus();
    return write_config_xml(extension, folder, in);
}
