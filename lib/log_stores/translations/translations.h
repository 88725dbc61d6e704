#pragma once
// Translated channel tags, descriptions and units. Three tables ("tags", "descriptions",
// "units") are read once per process from "<name>.txt", else "<name>.csv", in the
// QVR_TRANSLATIONS folder of the translation server, and looked up by the untranslated
// text ignoring letter case; the first pair of a source wins. 8-bit texts are Windows-1252.
// Safe from any thread; per-thread results stay valid until the thread's next call of the
// same function.
#include <cstddef>

#include "qvr/records/channel_record.h"

enum TranslationTableIndex : int {
    kTranslateTags = 0,
    kTranslateDescriptions = 1,
    kTranslateUnits = 2,
};

// Longest text ever put into a message buffer here, with its terminator.
inline constexpr std::size_t kTranslationMessageSize = 512;

// Loads the three tables (the loaded flag is set first, so a failed load is not tried again),
// stopping at the first failure. 1 loaded; 0 failed, the message then copied into `message`
// (`message_size` bytes, cut) or, without a buffer, reported to the message sink as
// information.
int LoadTranslations(const char* server, char* message, std::size_t message_size);
// One table. 1 loaded, or no file for it (the table stays empty); 0 failed with the message.
int LoadTranslationTable(const char* server, int index, const char* name, char* message,
                         std::size_t message_size);
// The translation of `text` into `out` (at most capacity - 1 code units and a terminator,
// never half a surrogate pair): 1. 0 when there is none; `out` then holds the text widened.
// Loads the tables on first use.
int Translate(int index, const char* text, char16_t* out, std::size_t capacity);

// The channel's description (33 code units with the terminator), tag (16) or units (9),
// translated, in a per-thread buffer.
const char16_t* TranslateDescription(const qvr::ChannelRecord* record);
const char16_t* TranslateTag(const qvr::ChannelRecord* record);
const char16_t* TranslateUnits(const qvr::ChannelRecord* record);

// Frees the tables and clears the loaded flag.
void FreeTranslations();

// The user's "ServerName" product setting (at most 1,284 characters), else this computer's
// name; in a per-thread buffer.
const char* GetTranslationServer();
