#pragma once
// Logger configuration files: one record per logger in the loggers' folder D, as the binary
// file "<kind>_<n>" and, by the switches of the device configuration files (WriteXML,
// ReadXML), as "<kind>_<n>.xml" with its schema "../SCHEMA/<kind>.xsd". The kind is named by
// the first five characters of the kind name: "stand" (32,220-byte record), "repub" (8,040),
// "resub" (1,480); a logger of any other kind has the binary file only, of the caller's size.
//
// Results are 0 / -1 with the reason in errno: the system error of a file, 1465 for an XML
// failure (whose text went to the message sink), 0 for an invalid argument, 1460 when the
// folder stayed locked, 67 for a logger number the logger table does not hold.
#include <cstdint>

#include "qvr/ext/ext.h"

// Reads logger `number` of `kind_name` from D into `record` (`size` bytes). Bytes of the
// record that the file or the kind does not hold are zero.
int cfg_LoadLoggerConfig(const char* dir, const char* kind_name, int number, void* record, int32_t size);
// The same in the current folder, read once.
int cfg_LoadLoggerConfigFromCwd(const char* kind_name, int number, void* record, int32_t size);
// Logger `number` (1-based) of the shared logger table, whose kind it names, in the current
// folder.
int cfg_LoadLoggerConfigByIndex(int number, void* record, int32_t size);

// Saves the record: the binary file (a known kind only when WriteXML is not "XML"), the
// XML form and schema (known kinds, WriteXML "BOTH" or "XML"), the audit entries (`user`
// null or empty: the logged-on user), the touch of the parent folder's "config" and the
// read-back of D's own AutoEnable. With the audit on, a present XML file that cannot be
// read at all is not overwritten.
int cfg_SaveLoggerConfig(const char* dir, const char* user, const char* kind_name, int number, const void* record,
                         int32_t size);
int cfg_SaveLoggerConfigFromCwd(const char* kind_name, int number, const void* record, int32_t size,
                                const char* user);
int cfg_SaveLoggerConfigByIndex(int number, const void* record, int32_t size);

// Writes "<kind>_<n>.xml" anew from the record (of a known kind) and then its schema.
int cfg_WriteLoggerXml(const char* dir, const char* user, const char* kind_name, int number, const void* record,
                       int32_t size);

// The elements a logger read from XML must have, by its settings (`record`: a whole record
// of the kind). The first one missing fails with "<name> tag not found" in the XML status.
int cfg_CheckLoggerElements(const qvr::FoundFieldList* found, const char* kind_name, const void* record);
// 0 when `name` was found, else -1 with "<name> tag not found" in the XML status.
int cfg_CheckLoggerElement(const qvr::FoundFieldList* found, const char* name);
