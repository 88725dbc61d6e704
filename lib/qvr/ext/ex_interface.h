#pragma once
/*
 * Entry points of a device type's extension plug-in ("<prefix>_ex.so"). The configuration
 * store looks each one up by name at every operation and takes its default path for any the
 * plug-in does not export, so a plug-in defines only those it needs.
 *
 * Records cross this boundary as plain bytes (void pointers and byte counts); typed
 * descriptions are those of the shared typed-structure library, valid while the plug-in is
 * loaded. A plain C header, so plug-ins may be written in C as well.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct StructsType;

#define QVR_EX_EXPORT __attribute__((visibility("default")))

/*
 * A block handed to the decorate and undecorate entries. The caller fills size and data and
 * sets mustFree to 0. The plug-in converts in place, or points data at a block of its own
 * from malloc, sets size and sets mustFree to 1; the caller then copies what it needs and
 * releases that block with free.
 */
typedef struct ExBuffer {
    int32_t size;
    void* data;
    int32_t mustFree;
} ExBuffer;

/* Text of the XML element names found while loading: ",Enable,Tag," and so on. */
typedef const char* ExFoundFieldList;

/* Error buffers handed to the validators hold this many bytes. */
#define QVR_EX_ERROR_MAX 256

/* Never called: its presence switches the XML forms on. */
QVR_EX_EXPORT void Ex_DoXml(void);

/* Device configuration record. */
QVR_EX_EXPORT const struct StructsType* Ex_Get_Config_Type(const void* config, int32_t size);
QVR_EX_EXPORT int32_t Ex_Decorated_Config_Size(int32_t size);
QVR_EX_EXPORT void Ex_Decorate_Config(ExBuffer* xml_form, void* config);
QVR_EX_EXPORT void Ex_Undecorate_Config(ExBuffer* config_copy);
QVR_EX_EXPORT int Ex_Validate_Device(ExFoundFieldList found, const void* config, char* ebuf, int32_t emax);

/* Extra configuration record, kept in a file of its own. */
/* Looked up only, never called. */
QVR_EX_EXPORT const char* Ex_Get_Config_Extra_FileName(void);
QVR_EX_EXPORT int32_t Ex_Get_Config_Extra_FileOffset(const void* extra, int32_t size);
QVR_EX_EXPORT const struct StructsType* Ex_Get_Config_Extra_Type(const void* config, int32_t size,
                                                                 const void* extra, int32_t extra_size);
QVR_EX_EXPORT void Ex_Decorate_Config_Extra(const void* config, int32_t size, ExBuffer* extra);
QVR_EX_EXPORT void Ex_Undecorate_Config_Extra(const void* config, int32_t size, ExBuffer* extra_copy);
QVR_EX_EXPORT int Ex_Validate_Device_Extra(ExFoundFieldList found, const void* config, const void* extra,
                                           int32_t size, char* ebuf, int32_t emax);

/* Port text of the port-statistics channels, at most text_max characters. */
QVR_EX_EXPORT void Ex_Get_Config_Port(const void* device_record, int32_t text_max, char* text);

/*
 * Hardware part of a 216-byte channel record. kind is the channel table's kind, index the
 * channel's position in it; the buffers hold {216, record}. A description may reach to the
 * record's end (28 bytes analog, 24 digital); a larger one is not used.
 */
QVR_EX_EXPORT const struct StructsType* Ex_Get_Channel_Hw_Type(int32_t kind, int32_t index, const void* record);
QVR_EX_EXPORT void Ex_Decorate_Channel_Hw(int32_t kind, int32_t index, ExBuffer* record);
QVR_EX_EXPORT void Ex_Undecorate_Channel_Hw(int32_t kind, int32_t index, ExBuffer* record_copy);
QVR_EX_EXPORT int Ex_Validate_Chan(ExFoundFieldList found, const void* record, char* ebuf, int32_t emax);
/* 1 when the analog input table also holds digital channels. */
QVR_EX_EXPORT int Ex_Get_Mixed_Channel_Type(void);

/* Extra data of the channels, one share per channel in a file of its own. */
/* Looked up only, never called. */
QVR_EX_EXPORT const char* Ex_Get_Channel_Extra_FileName(void);
QVR_EX_EXPORT int32_t Ex_Get_Channel_Extra_FileOffset(void);
QVR_EX_EXPORT const struct StructsType* Ex_Get_Channel_Extra_Type(int32_t kind, int32_t index,
                                                                  const void* record);
QVR_EX_EXPORT int32_t Ex_Get_Channel_Extra_Size(int32_t kind, int32_t index, const void* record,
                                                const void* extra);
QVR_EX_EXPORT void* Ex_Get_Channel_Extra_Struct(int32_t kind);
QVR_EX_EXPORT void Ex_Decorate_Channel_Extra(int32_t kind, int32_t index, const void* record, ExBuffer* extra);
QVR_EX_EXPORT void Ex_Undecorate_Channel_Extra(int32_t kind, int32_t index, const void* record,
                                               ExBuffer* extra_copy);
QVR_EX_EXPORT int Ex_Validate_Chan_Extra(ExFoundFieldList found, const void* record, const void* extra,
                                         int32_t bytes_left, char* ebuf, int32_t emax);

/* The caller's seven arguments are passed through unchanged; their meaning lies with the
 * caller and the plug-in. -1 invalid, with the reason in ebuf. */
QVR_EX_EXPORT int Ex_ValidateChanWithConfig(void* arg1, void* arg2, void* arg3, void* arg4, void* arg5,
                                            void* arg6, void* arg7, char* ebuf, int32_t emax);

#ifdef __cplusplus
}
#endif
