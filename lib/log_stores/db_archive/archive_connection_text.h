#pragma once
// What the archive of a logger database takes from its two connection texts: the key
// names it rewrites, the values it looks up, and which flavour of statements it sends.
#include <string>
#include <string_view>

namespace log_stores::archive {

// Rewrites the whole key names "User ID" to "uid" and "Password" to "pwd" (exact case).
// Only a key that is exactly one of these changes: "Jet OLEDB:Database Password" and every
// value stay as they are, so a file database keeps its password.
std::string shorten_credential_keys(std::string_view text);

// The first occurrence of `key`, else of `fallback` (both case-sensitive), then the first
// '=' after it: the value is everything after that '=' up to the next ';' or the end,
// untrimmed. Empty when neither occurs or no '=' follows.
std::string connection_value(std::string_view text, std::string_view key, std::string_view fallback);
// "Data Source", else "Server".
std::string data_source_of(std::string_view text);
// "Initial Catalog", else "Database".
std::string catalog_of(std::string_view text);

// The file-database flavour is chosen by "Jet" or "jet" in the archive connection text.
bool names_jet_flavour(std::string_view text);

}  // namespace log_stores::archive
