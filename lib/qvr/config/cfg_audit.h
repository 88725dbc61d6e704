#pragma once
// The configuration audit trail: with the audit switch on, every save appends one line per
// changed setting to "recent_history.txt" of the configuration folder:
//   yyyy/mm/dd <TAB> hh:mm:ss <TAB> user <TAB> [context.][channel.]setting old -> new CRLF
// The context names the device folder saved ("tolva_3", "tolva_3.AI.Channels"); it is empty
// for a save in the configuration folder itself. Lines are appended with one write each, so
// lines of several processes never mix; CR, LF and TAB inside a field are written as \r,
// \n and \t. A line longer than 5,000 characters is dropped. Password fields show "****".
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"
#include "tslib/structs.h"

// ---- The process-wide trail, on the current folder ----
// The switch (low byte): the first byte of the device configuration record of the
// configuration folder (byte 1 of its "config"), read once per process and folder.
int audit_IsEnabled();
// Presets the switch; it is then not read.
void audit_SetEnabled(int value);
// kind + 1 of the channel table saved, or 0. 1 open (also when it was open already), 0 not.
int audit_Open(int kind_plus_one);
// Opens on demand (without kind). `channel` 0: none.
void audit_Write(const char* user, int channel, const char* setting, const char* old_text,
                 const char* new_text);
void audit_Close();

namespace qvr {

inline constexpr std::size_t kAuditLineMax = 5000;
inline constexpr const char* kAuditFileName = "recent_history.txt";
inline constexpr const char* kAuditHidden = "****";

// The switch for saves into `folder`: read from the configuration folder above it (or
// `folder` itself when it is the configuration folder), once per process for each such
// folder; a preset (audit_SetEnabled) stands for every folder.
bool audit_enabled_for(std::string_view folder);

// The trail of one save into `folder` (a device folder or the configuration folder).
class AuditTrail {
  public:
    explicit AuditTrail(std::string folder) : folder_(std::move(folder)) {}
    AuditTrail(const AuditTrail&) = delete;
    AuditTrail& operator=(const AuditTrail&) = delete;
    ~AuditTrail() { close(); }

    // Opens the file and fixes the context; `kind_plus_one` as in audit_Open. True when
    // open (it stays as it was when open already).
    bool open(int kind_plus_one);
    bool is_open() const { return fd_.valid(); }
    // One entry (opened on demand, without kind).
    void write(const char* user, int channel, std::string_view setting, std::string_view old_text,
               std::string_view new_text);
    void close();
    const std::string& context() const { return context_; }

  private:
    std::string folder_;
    std::string context_;
    platform::UniqueFd fd_;
};

// One entry per leaf of `type` whose text differs, without case, between the two copies
// (each as large as the leaves reach); leaves ending beyond `limit` bytes are not compared.
// Password leaves show "****", a server leaf its address with "****" for the password.
// With a `text_limit`, an entry whose setting name and texts together reach it is left out.
void audit_changed_leaves(AuditTrail& trail, const char* user, int channel, const StructsType* type,
                          const void* old_data, const void* new_data, std::size_t limit,
                          std::size_t text_limit = 0);

// The line of one entry, as written (CRLF included), or empty when too long.
std::string audit_line(const std::string& context, const char* user, int channel, std::string_view setting,
                       std::string_view old_text, std::string_view new_text);

}  // namespace qvr
