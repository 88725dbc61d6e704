// Writing a device's settings as "config.xml".
#include <cstring>
#include <iterator>
#include <vector>

#include "qvr/records/config_header.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/config/cfg_device_config_internal.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_xml_fields.h"
#include "qvr/schema/schema.h"

namespace qvr::cfg {
namespace {

std::span<const std::uint8_t> bytes(const void* data, std::int32_t size) {
    return {static_cast<const std::uint8_t*>(data),
            data != nullptr && size > 0 ? static_cast<std::size_t>(size) : 0};
}

// The header first, in its order. A setting not given keeps its element, moved into place
// (files that older saves left with the header behind the record are put in order).
void write_header(XmlDocument* doc, XmlNode* config, const DeviceSettingsIn& in, LeafPlace& place) {
    ConfigHeader header{};
    const bool given[kConfigHeaderFieldCount] = {in.auto_enable != nullptr, in.save_outputs != nullptr,
                                                 in.save_by_tag != nullptr, in.save_rate != nullptr};
    if (given[0]) header.AutoEnable = *in.auto_enable;
    if (given[1]) header.SaveOutputs = *in.save_outputs;
    if (given[2]) header.SaveByTag = *in.save_by_tag;
    if (given[3]) header.SaveRate = static_cast<std::uint32_t>(*in.save_rate);
    const std::vector<std::string> names = leaf_names(&ConfigHeaderType, &header);
    for (std::size_t i = 0; i < names.size() && i < std::size(given); ++i) {
        if (given[i]) {
            write_leaves(doc, config, &ConfigHeaderType, {names[i]}, &header, place);
        } else if (XmlNodeRef kept{xml_FindByName(config, names[i].c_str())}) {
            place_after(config, kept.get(), place.after.get());
            place.after = std::move(kept);
        }
    }
}

// The leaves of a plug-in's form of a record; the form is padded so that the description
// never reads past it. Behind the part written before it when `follows`, else where the
// file has this part already (at the end when it has none).
void write_form(XmlDocument* doc, XmlNode* config, const ExtType& type, std::vector<std::uint8_t> form,
                LeafPlace& place, bool follows) {
    if (!type) return;
    form = padded(std::move(form), type->size);
    const std::vector<std::string> leaves = leaf_names(type.get(), form.data());
    if (!follows) place.after = place_of_part(config, leaves);
    write_leaves(doc, config, type.get(), leaves, form.data(), place);
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
        LeafPlace place{true, nullptr};
        write_header(doc.get(), config.get(), in, place);
        const auto record = bytes(in.record, in.size);
        const auto extra = bytes(in.extra, in.extra_size);
        if (in.record != nullptr)
            write_form(doc.get(), config.get(), e.config_type(record), e.undecorate_config(record), place,
                       true);
        if (in.extra != nullptr)
            write_form(doc.get(), config.get(), e.config_extra_type(record, extra),
                       e.undecorate_config_extra(record, extra), place, in.record != nullptr);
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
    const std::string folder = resolved_folder(dir);
    if (folder.empty()) return -1;
    const auto lock = FolderLock::acquire(folder);
    if (!lock) return -1;
    const qvr::Extension extension = qvr::Extension::load(folder);
    DeviceSettingsIn in{record,      size,         extra,       extra_size, nullptr,
                        auto_enable, save_outputs, save_by_tag, save_rate};
    xml_ResetStatus();
    return write_config_xml(extension, folder, in);
}
