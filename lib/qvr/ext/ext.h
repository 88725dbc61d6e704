#pragma once
// The extension binding: a device type's plug-in "<prefix>_ex.so" gives typed descriptions
// of its records and converts them between their stored and XML forms. Every entry point is
// optional. An operation binds the plug-in for its own length (qvr::Extension: load, look
// up each entry by name at each call, free at the end) and takes the default path for every
// entry that is missing, or for a plug-in that is not there at all.
//
// The plug-in is found from a configuration folder ".../<type>_<number>": its file is the
// device prefix's first five characters in lower case + "_ex.so", loaded from the caller's
// own folder (where the program or library that calls lies), else from the QVR_BIN folder,
// else, when DATPROC.TXT beside the configuration folder lists the prefix as a processor,
// "usera_ex.so" (analog processors) or "userd_ex.so" from the QVR_BIN folder. Never from the
// current folder.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "qvr/records/channel_record.h"
#include "qvr/ext/ex_interface.h"
#include "tslib/structs.h"

// ---- C entry points: the folder's plug-in, the device lists, channel validation ----
// The plug-in of the folder, loaded (a handle for ext_FreeExtension), or null.
void* ext_LoadExtension(const char* config_dir);
void ext_FreeExtension(void* library);
// 1 when the folder's plug-in exports Ex_DoXml, else 0. The answer for the last folder asked
// (compared without case) is kept; the plug-in itself is freed at once.
int ext_HasXmlSupport(const char* config_dir);

// The device list of the calling thread (DATPROC.TXT and the other list files): lines of at
// most 500 characters (the rest of a longer line is dropped), CR and LF removed; empty lines,
// blank lines and lines whose first non-blank character is '*' are skipped.
inline constexpr std::size_t kDeviceListLineMax = 500;
using DeviceListField = char[kDeviceListLineMax + 1];
// Opens the list (closing any the thread had open): the number of entries, or -1 (errno).
int ext_OpenDeviceList(const char* path);
// Reads the next entry into the thread's line: 1, or 0 at the end (the list rewinds).
int ext_ReadDeviceListLine();
// The line last read ("" when none).
const char* ext_DeviceListLine();
// Reads the next entry and splits it at commas into at most `capacity` fields: their
// number, or 0 at the end.
int ext_NextDeviceListEntry(DeviceListField* fields, int capacity);
void ext_CloseDeviceList();

// The current folder's plug-in judges a channel against its device configuration: the seven
// arguments go through unchanged. 0 when valid or when there is no plug-in or entry; -1
// when invalid: the plug-in's text becomes the XML status and goes to the message sink,
// errno 1465.
int cfg_ValidateChannelWithConfig(void* arg1, void* arg2, void* arg3, void* arg4, void* arg5, void* arg6,
                                  void* arg7);

namespace qvr {

// The device prefix of a configuration folder: its last component cut at its last '_';
// "calc<number>" and "opddx<number>" (any case) become "calc" and "opddx".
std::string device_prefix(std::string_view config_dir);
// Its first five characters, as file names and namespaces use it ("%1.5s").
std::string device_prefix5(std::string_view config_dir);

// A processor line of DATPROC.TXT as the plug-in search reads it.
struct ProcessorLine {
    std::string name;        // upper case
    std::string print_name;  // the name when none is given
    std::string prefix;      // channel prefix
    int channel_count = 0;
    int type = 3;  // 2 analog, 3 digital, 6 "modb" processor
    bool run = false;
    int alarm_queue = 0;  // "ALARM" with the run flag
};
// Checks the fields of one processor line; false with the reason in `message`.
bool check_processor_line(std::span<const std::string> fields, ProcessorLine& line, std::string& message);

// A typed description from a plug-in, holding the plug-in loaded while it is held.
class ExtType {
  public:
    ExtType() = default;
    ExtType(const StructsType* type, std::shared_ptr<void> library)
        : type_(type), library_(std::move(library)) {}
    const StructsType* get() const { return type_; }
    const StructsType* operator->() const { return type_; }
    explicit operator bool() const { return type_ != nullptr; }

  private:
    const StructsType* type_ = nullptr;
    std::shared_ptr<void> library_;
};

// The layout one channel has in the files: the record's own description (analog or digital),
// with the plug-in's description of the hardware part in place of its plain bytes when there
// is one.
class ChannelLayout {
  public:
    ChannelLayout(bool digital, ExtType hardware);
    ChannelLayout(const ChannelLayout&) = delete;
    ChannelLayout& operator=(const ChannelLayout&) = delete;

    const StructsType& type() const { return type_; }
    bool digital() const { return digital_; }
    bool typed_hardware() const { return static_cast<bool>(hardware_); }

  private:
    bool digital_;
    ExtType hardware_;
    std::vector<StructsField> fields_;
    StructsType type_;
};

// Text of the XML element names found while loading (",Enable,Tag,"), with a set of the
// same names beside it: a standard logger checks some 900 of them.
class FoundFieldList {
  public:
    FoundFieldList() : text_(",") {}
    void add(std::string_view name) {
        text_.append(name);
        text_.push_back(',');
        names_.emplace(name);
    }
    bool contains(std::string_view name) const;
    const char* c_str() const { return text_.c_str(); }

  private:
    std::string text_;
    std::unordered_set<std::string> names_;
};

// One binding of a plug-in for the length of an operation. Calls of missing entries take
// the default path documented at each; answers that would make the caller read or write
// past its buffers are cut to them (and traced).
class Extension {
  public:
    // No plug-in: every entry is missing.
    Extension() = default;
    // The folder's plug-in, by the whole search; without the DATPROC.TXT fallback when
    // `with_device_list` is false.
    static Extension load(std::string_view config_dir, bool with_device_list = true);

    bool loaded() const { return library_ != nullptr; }
    // The file that was loaded.
    const std::string& path() const { return path_; }
    // The entry's address, looked up now; null when missing.
    void* entry(const char* name) const;

    // Ex_DoXml exported: the XML forms are on.
    bool has_xml() const;

    // Device configuration record. Types: null without the entry.
    ExtType config_type(std::span<const std::uint8_t> config) const;
    // Size of the XML-side form; nullopt without the entry or for an answer below 0 or
    // above kMaxBlock.
    std::optional<std::size_t> decorated_config_size(std::size_t size) const;
    // The plug-in turns the XML side into the record (which it writes into `config`). False
    // without the entry.
    bool decorate_config(std::span<std::uint8_t> xml_side, std::span<std::uint8_t> config) const;
    // The form written to XML, from a copy of the record; the copy itself without the entry.
    std::vector<std::uint8_t> undecorate_config(std::span<const std::uint8_t> config) const;
    // Byte offset of the extra record in its file: 0 without the entry, nullopt for a
    // negative answer.
    std::optional<std::uint32_t> config_extra_file_offset(std::span<const std::uint8_t> extra) const;
    ExtType config_extra_type(std::span<const std::uint8_t> config,
                              std::span<const std::uint8_t> extra) const;
    // Converts the extra record in place (what the plug-in hands back is copied into it, cut
    // to its size). False without the entry.
    bool decorate_config_extra(std::span<const std::uint8_t> config, std::span<std::uint8_t> extra) const;
    std::vector<std::uint8_t> undecorate_config_extra(std::span<const std::uint8_t> config,
                                                      std::span<const std::uint8_t> extra) const;
    // Validators: 0 valid (also without the entry), -1 invalid with the plug-in's text.
    int validate_device(const FoundFieldList& found, std::span<const std::uint8_t> config,
                        std::string& message) const;
    int validate_device_extra(const FoundFieldList& found, std::span<const std::uint8_t> config,
                              std::span<const std::uint8_t> extra, std::string& message) const;

    // Channels. `kind` is the table's kind, `index` the channel's place in it.
    // The hardware part's type, when it fits between the part's start and the record's end
    // (28 bytes analog, 24 digital).
    ExtType channel_hw_type(int kind, int index, const ChannelRecord& record, bool digital) const;
    // The layout of the channel, with the plug-in's hardware type when it gives one.
    std::unique_ptr<ChannelLayout> channel_layout(int kind, int index, const ChannelRecord& record,
                                                  bool digital) const;
    bool decorate_channel_hw(int kind, int index, ChannelRecord& record) const;
    // The record as written to XML; the copy itself without the entry.
    ChannelRecord undecorate_channel_hw(int kind, int index, const ChannelRecord& record) const;
    ExtType channel_extra_type(int kind, int index, const ChannelRecord& record) const;
    // Bytes of this channel's extra data, cut to `extra` (the bytes left); nullopt without
    // the entry.
    std::optional<std::size_t> channel_extra_size(int kind, int index, const ChannelRecord& record,
                                                  std::span<const std::uint8_t> extra) const;
    // The plug-in's buffer into which the XML fields of the extra data are read, or null.
    void* channel_extra_struct(int kind) const;
    bool decorate_channel_extra(int kind, int index, const ChannelRecord& record,
                                std::span<std::uint8_t> extra) const;
    std::vector<std::uint8_t> undecorate_channel_extra(int kind, int index, const ChannelRecord& record,
                                                       std::span<const std::uint8_t> extra) const;
    int validate_chan(const FoundFieldList& found, const ChannelRecord& record, std::string& message) const;
    int validate_chan_extra(const FoundFieldList& found, const ChannelRecord& record,
                            std::span<const std::uint8_t> extra, std::string& message) const;
    // The analog input table also holds digital channels.
    bool mixed_channel_type() const;
    // Ex_ValidateChanWithConfig: 0 valid or missing, -1 invalid with the plug-in's text.
    int validate_chan_with_config(void* const (&args)[7], std::string& message) const;

    // The largest block the binding takes from a plug-in.
    static constexpr std::size_t kMaxBlock = 1u << 20;

  private:
    template <class Fn>
    Fn* find(const char* name) const {
        return reinterpret_cast<Fn*>(entry(name));
    }
    ExtType typed(const StructsType* type) const { return ExtType(type, library_); }
    // Runs an entry on an ExBuffer over `block`, leaves the result in `block` (cut to its
    // size) and releases what the plug-in allocated.
    void take_back(ExBuffer& buffer, std::span<std::uint8_t> block, const char* entry_name) const;
    std::vector<std::uint8_t> take_result(ExBuffer& buffer, std::vector<std::uint8_t>& copy,
                                          const char* entry_name) const;

    std::shared_ptr<void> library_;
    std::string path_;
};

}  // namespace qvr
