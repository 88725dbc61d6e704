#pragma once
// The names of one folder, sorted by name so that every listing of the same folder comes in
// the same order (Linux lists folders in no order), from this machine or from the server of
// the machine that holds it.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace log_stores {

class FolderListing {
  public:
    // Every entry of the local folder `path`. 0, or -1 with errno (nothing listed).
    int list_local(const std::string& path);
    // Every name the server of `machine` lists in `folder` that matches `pattern`; the names
    // take as much room as the names that arrive. 0, or -1 with the last error.
    int list_remote(const std::string& machine, const std::string& folder, const char* pattern);

    // The next name; nullopt at the end, which also forgets the names.
    std::optional<std::string> next();
    void clear();
    bool active() const { return active_; }

  private:
    std::vector<std::string> names_;
    std::size_t index_ = 0;
    bool active_ = false;
};

// The entry of `folder` named `name`: its exact name when present, else the first entry
// whose name matches without letter case (files copied from Windows); nullopt when none.
std::optional<std::string> find_entry_ignoring_case(const std::string& folder, std::string_view name);

}  // namespace log_stores
