#pragma once
// XML schemas of the configuration files, derived from the typed descriptions that convert
// their records, written to the folder "SCHEMA" beside the configuration folder after each
// XML save. Every element of the files sits in the file's default namespace, so the schemas
// declare it the target namespace with qualified local elements.
//
// The writers report a failure through the message sink (errno 1465) and return -1; the
// configuration file written before stays. They do not look at the write-mode switch: the
// callers write schemas only where they wrote XML.
#include <cstdint>

#include "qvr/records/channel_record.h"
#include "qvr/ext/ext.h"
#include "qvr/xml/xml.h"
#include "tslib/structs.h"

namespace qvr {

// Namespace base of every configuration file and schema.
inline constexpr const char* kXmlNamespaceBase = "http://www.brevantic.com/quorvane";
inline constexpr const char* kXmlSchemaNamespace = "http://www.w3.org/2001/XMLSchema";
inline constexpr const char* kXmlSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr const char* kXmlCreatedComment = "Created Automatically by Velmora.";

// The file-name and namespace word of a channel kind: "ai", "di", "ao", "do", "ci", "dc".
const char* channel_kind_word(int kind);

// Leaves [first, min(count, end)) of `data` (end <= 0: to the last) as schema elements;
// data null: a zeroed record. The status.
int write_schema_fields(XmlDocument* doc, XmlNode* parent, const StructsType* type, int first, int end,
                        const void* data);

// The writers, with a plug-in the caller has bound.
int write_config_schema(const Extension& extension, const char* directory, const void* record, int32_t size,
                        const void* extra, int32_t extra_size);
int write_channel_schema(const Extension& extension, const char* directory, int kind,
                         const ChannelRecord* records, int first, int count);

}  // namespace qvr

// One "xs:element" per leaf of `type` from leaf `first` up to, not including, min(number of
// leaves, end) when end is positive, else to the last. On a failure the message becomes
// "<leaf> message" and the walk stops. The status.
int cfg_WriteSchemaFields(XmlDocument* doc, XmlNode* parent, const StructsType* type, int first, int end);
// "SCHEMA/<prefix>.xsd": Configs > Config with the header settings, then the leaves of the
// plug-in's configuration and extra types. A file may lack any header setting, the record
// or the extra record (a save writes only what it is given). 0 / -1.
int cfg_WriteConfigSchema(const char* directory, const void* record, int32_t size, const void* extra,
                          int32_t extra_size);
// "SCHEMA/<prefix>_<kind>.xsd": Channels > Channel (any number) with the common head, one
// group per layout in use (the digital one too for an analog input table that holds
// digital channels), then the plug-in's channel extra leaves, which a channel may lack.
// `user` is not used. 0 / -1.
int cfg_WriteChannelSchema(const char* user, const char* directory, int kind,
                           const qvr::ChannelRecord* records, int first, int count);
// "SCHEMA/<kind name>.xsd": Loggers > Logger with the leaves of the kind's type over
// `record` (null: a zeroed one). 0 / -1.
int cfg_WriteLoggerSchema(const char* directory, const char* kind_name, const StructsType* type,
                          const void* record, int32_t size);
