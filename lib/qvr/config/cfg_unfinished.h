#pragma once
// Saves that write both forms of a table (WriteXML "BOTH") rename the binary files first and
// the XML file last; a kill, a crash or a failed XML write in between leaves the two forms
// holding different content, each whole. Such a save first leaves a note beside the table
// (".<binary name>.unfinished", on disk before the first rename) naming what it writes, and
// removes it once both forms are in place. The next save of the same table that writes the
// XML form finds the note and first writes the binary form's content of what it names into
// the XML form, so both hold the same again.
//
// Saves into one folder hold its FolderLock from start to end, so a note seen under that
// lock always belongs to a save that did not finish.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvr::cfg {

// What the save covered: numbers of the store's own meaning and one file name (may be empty).
struct UnfinishedSave {
    std::vector<std::int64_t> numbers;
    std::string file_name;
};

// Leaves the note of a save of the binary file `name` in `dir`. 0 / -1.
int note_unfinished_save(const std::string& dir, std::string_view name, const UnfinishedSave& note);
// The note a save of `name` left, if any (a note that cannot be read is traced and dropped).
std::optional<UnfinishedSave> unfinished_save(const std::string& dir, std::string_view name);
// Both forms are in place: the note goes.
void forget_unfinished_save(const std::string& dir, std::string_view name);

}  // namespace qvr::cfg
