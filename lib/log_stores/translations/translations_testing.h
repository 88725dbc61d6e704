#pragma once
// Test hooks of the translations.
namespace log_stores::translations_testing {

// Frees the tables and clears the loaded flag, as a new process starts.
void reset();

}  // namespace log_stores::translations_testing
