// Calls of the plug-in's entry points with their default paths. Whatever a plug-in answers,
// the caller reads and writes only its own buffers.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dynamic_library.h"
#include "qvr/records/channel_record_types.h"
#include "qvr/ext/ext.h"
#include "qvr/diag/trace.h"

namespace qvr::ext {
void* load_library(std::string_view config_dir, bool with_device_list, std::string& loaded_path);
}

namespace qvr {
namespace {

using GetConfigType = decltype(Ex_Get_Config_Type);
using DecoratedConfigSize = decltype(Ex_Decorated_Config_Size);
using DecorateConfig = decltype(Ex_Decorate_Config);
using UndecorateConfig = decltype(Ex_Undecorate_Config);
using ValidateDevice = decltype(Ex_Validate_Device);
using ConfigExtraFileOffset = decltype(Ex_Get_Config_Extra_FileOffset);
using GetConfigExtraType = decltype(Ex_Get_Config_Extra_Type);
using DecorateConfigExtra = decltype(Ex_Decorate_Config_Extra);
using UndecorateConfigExtra = decltype(Ex_Undecorate_Config_Extra);
using ValidateDeviceExtra = decltype(Ex_Validate_Device_Extra);
using GetChannelHwType = decltype(Ex_Get_Channel_Hw_Type);
using DecorateChannelHw = decltype(Ex_Decorate_Channel_Hw);
using UndecorateChannelHw = decltype(Ex_Undecorate_Channel_Hw);
using ValidateChan = decltype(Ex_Validate_Chan);
using GetMixedChannelType = decltype(Ex_Get_Mixed_Channel_Type);
using GetChannelExtraType = decltype(Ex_Get_Channel_Extra_Type);
using GetChannelExtraSize = decltype(Ex_Get_Channel_Extra_Size);
using GetChannelExtraStruct = decltype(Ex_Get_Channel_Extra_Struct);
using DecorateChannelExtra = decltype(Ex_Decorate_Channel_Extra);
using UndecorateChannelExtra = decltype(Ex_Undecorate_Channel_Extra);
using ValidateChanExtra = decltype(Ex_Validate_Chan_Extra);
using ValidateChanWithConfig = decltype(Ex_ValidateChanWithConfig);

void trace_answer(const std::string& path, const char* entry, const std::string& what) {
    const std::string text = "extension " + path + ": " + entry + " " + what + '\n';
    trace_Write(text.c_str());
}

int32_t size32(std::size_t size) {
    return size > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(size);
}

// The validator's text: the plug-in need not end it.
int validator_result(int result, char (&ebuf)[QVR_EX_ERROR_MAX], std::string& message) {
    ebuf[QVR_EX_ERROR_MAX - 1] = '\0';
    if (result != -1) return 0;
    message = ebuf;
    return -1;
}

// A plug-in's hardware part may run on over the reserved bytes to the end of the record.
std::size_t hardware_room(bool digital) {
    return kChannelRecordSize - (digital ? kDigitalHardwareOffset : kAnalogHardwareOffset);
}

}  // namespace

bool FoundFieldList::contains(std::string_view name) const {
    return names_.find(std::string(name)) != names_.end();
}

ChannelLayout::ChannelLayout(bool digital, ExtType hardware)
    : digital_(digital), hardware_(std::move(hardware)), type_{} {
    const StructsField* base = digital ? kDigitalChannelFields : kAnalogChannelFields;
    for (const StructsField* f = base; f->name != nullptr; ++f) fields_.push_back(*f);
    if (hardware_ && hardware_->size <= hardware_room(digital)) {
        StructsField& part = fields_.back();
        part = structs_field(part.name, hardware_.get(), hardware_->size, part.offset);
    } else {
        hardware_ = ExtType();
    }
    fields_.push_back(structs_field_end());
    type_ = structs_struct_type(kChannelRecordSize, fields_.data());
}

Extension Extension::load(std::string_view config_dir, bool with_device_list) {
    Extension e;
    void* handle = ext::load_library(config_dir, with_device_list, e.path_);
    if (handle != nullptr)
        e.library_ = std::shared_ptr<void>(handle, [](void* h) { platform::library_close(h); });
    return e;
}

void* Extension::entry(const char* name) const {
    return library_ != nullptr ? platform::library_symbol(library_.get(), name) : nullptr;
}

bool Extension::has_xml() const {
    return entry("Ex_DoXml") != nullptr;
}

void Extension::take_back(ExBuffer& buffer, std::span<std::uint8_t> block, const char* entry_name) const {
    const bool replaced = buffer.data != block.data();
    if (buffer.size < 0 || static_cast<std::size_t>(buffer.size) > block.size())
        trace_answer(path_, entry_name,
                     "gave " + std::to_string(buffer.size) + " bytes for a block of " +
                         std::to_string(block.size()) + ": cut");
    if (replaced && buffer.data != nullptr && buffer.size > 0) {
        std::size_t n = std::min(static_cast<std::size_t>(buffer.size), block.size());
        std::memcpy(block.data(), buffer.data, n);
    }
    // Only a block of the plug-in's own is released, never the caller's.
    if (buffer.mustFree != 0 && replaced) std::free(buffer.data);
}

std::vector<std::uint8_t> Extension::take_result(ExBuffer& buffer, std::vector<std::uint8_t>& copy,
                                                 const char* entry_name) const {
    const bool replaced = buffer.data != copy.data();
    std::size_t limit = replaced ? kMaxBlock : copy.size();
    std::size_t n = buffer.size > 0 ? static_cast<std::size_t>(buffer.size) : 0;
    if (buffer.size < 0 || n > limit) {
        trace_answer(
            path_, entry_name,
            "gave " + std::to_string(buffer.size) + " bytes (at most " + std::to_string(limit) + "): cut");
        n = std::min(n, limit);
    }
    std::vector<std::uint8_t> result;
    if (!replaced) {
        copy.resize(n);
        result = std::move(copy);
    } else if (buffer.data != nullptr) {
        const auto* from = static_cast<const std::uint8_t*>(buffer.data);
        result.assign(from, from + n);
    }
    if (buffer.mustFree != 0 && replaced) std::free(buffer.data);
    return result;
}

ExtType Extension::config_type(std::span<const std::uint8_t> config) const {
    auto* f = find<GetConfigType>("Ex_Get_Config_Type");
    return f != nullptr ? typed(f(config.data(), size32(config.size()))) : ExtType();
}

std::optional<std::size_t> Extension::decorated_config_size(std::size_t size) const {
    auto* f = find<DecoratedConfigSize>("Ex_Decorated_Config_Size");
    if (f == nullptr) return std::nullopt;
    int32_t answer = f(size32(size));
    if (answer < 0 || static_cast<std::size_t>(answer) > kMaxBlock) {
        trace_answer(path_, "Ex_Decorated_Config_Size", "gave " + std::to_string(answer) + ": not used");
        return std::nullopt;
    }
    return static_cast<std::size_t>(answer);
}

bool Extension::decorate_config(std::span<std::uint8_t> xml_side, std::span<std::uint8_t> config) const {
    auto* f = find<DecorateConfig>("Ex_Decorate_Config");
    if (f == nullptr) return false;
    ExBuffer buffer{size32(xml_side.size()), xml_side.data(), 0};
    f(&buffer, config.data());
    if (buffer.mustFree != 0 && buffer.data != xml_side.data()) std::free(buffer.data);
    return true;
}

std::vector<std::uint8_t> Extension::undecorate_config(std::span<const std::uint8_t> config) const {
    std::vector<std::uint8_t> copy(config.begin(), config.end());
    auto* f = find<UndecorateConfig>("Ex_Undecorate_Config");
    if (f == nullptr) return copy;
    ExBuffer buffer{size32(copy.size()), copy.data(), 0};
    f(&buffer);
    return take_result(buffer, copy, "Ex_Undecorate_Config");
}

std::optional<std::uint32_t> Extension::config_extra_file_offset(std::span<const std::uint8_t> extra) const {
    auto* f = find<ConfigExtraFileOffset>("Ex_Get_Config_Extra_FileOffset");
    if (f == nullptr) return 0u;
    int32_t answer = f(extra.data(), size32(extra.size()));
    if (answer < 0) {
        trace_answer(path_, "Ex_Get_Config_Extra_FileOffset", "gave " + std::to_string(answer));
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(answer);
}

ExtType Extension::config_extra_type(std::span<const std::uint8_t> config,
                                     std::span<const std::uint8_t> extra) const {
    auto* f = find<GetConfigExtraType>("Ex_Get_Config_Extra_Type");
    if (f == nullptr) return ExtType();
    return typed(f(config.data(), size32(config.size()), extra.data(), size32(extra.size())));
}

bool Extension::decorate_config_extra(std::span<const std::uint8_t> config,
                                      std::span<std::uint8_t> extra) const {
    auto* f = find<DecorateConfigExtra>("Ex_Decorate_Config_Extra");
    if (f == nullptr) return false;
    ExBuffer buffer{size32(extra.size()), extra.data(), 0};
    f(config.data(), size32(config.size()), &buffer);
    take_back(buffer, extra, "Ex_Decorate_Config_Extra");
    return true;
}

std::vector<std::uint8_t> Extension::undecorate_config_extra(std::span<const std::uint8_t> config,
                                                             std::span<const std::uint8_t> extra) const {
    std::vector<std::uint8_t> copy(extra.begin(), extra.end());
    auto* f = find<UndecorateConfigExtra>("Ex_Undecorate_Config_Extra");
    if (f == nullptr) return copy;
    ExBuffer buffer{size32(copy.size()), copy.data(), 0};
    f(config.data(), size32(config.size()), &buffer);
    return take_result(buffer, copy, "Ex_Undecorate_Config_Extra");
}

int Extension::validate_device(const FoundFieldList& found, std::span<const std::uint8_t> config,
                               std::string& message) const {
    auto* f = find<ValidateDevice>("Ex_Validate_Device");
    if (f == nullptr) return 0;
    char ebuf[QVR_EX_ERROR_MAX] = {};
    return validator_result(f(found.c_str(), config.data(), ebuf, QVR_EX_ERROR_MAX), ebuf, message);
}

int Extension::validate_device_extra(const FoundFieldList& found, std::span<const std::uint8_t> config,
                                     std::span<const std::uint8_t> extra, std::string& message) const {
    auto* f = find<ValidateDeviceExtra>("Ex_Validate_Device_Extra");
    if (f == nullptr) return 0;
    char ebuf[QVR_EX_ERROR_MAX] = {};
    return validator_result(
        f(found.c_str(), config.data(), extra.data(), size32(extra.size()), ebuf, QVR_EX_ERROR_MAX), ebuf,
        message);
}

ExtType Extension::channel_hw_type(int kind, int index, const ChannelRecord& record, bool digital) const {
    auto* f = find<GetChannelHwType>("Ex_Get_Channel_Hw_Type");
    if (f == nullptr) return ExtType();
    const StructsType* type = f(kind, index, record.bytes);
    if (type != nullptr && type->size > hardware_room(digital)) {
        trace_answer(path_, "Ex_Get_Channel_Hw_Type",
                     "gave a description of " + std::to_string(type->size) + " bytes where the record has " +
                         std::to_string(hardware_room(digital)) + " left: not used");
        return ExtType();
    }
    return typed(type);
}

std::unique_ptr<ChannelLayout> Extension::channel_layout(int kind, int index, const ChannelRecord& record,
                                                         bool digital) const {
    return std::make_unique<ChannelLayout>(digital, channel_hw_type(kind, index, record, digital));
}

bool Extension::decorate_channel_hw(int kind, int index, ChannelRecord& record) const {
    auto* f = find<DecorateChannelHw>("Ex_Decorate_Channel_Hw");
    if (f == nullptr) return false;
    ExBuffer buffer{static_cast<int32_t>(kChannelRecordSize), record.bytes, 0};
    f(kind, index, &buffer);
    take_back(buffer, record.bytes, "Ex_Decorate_Channel_Hw");
    return true;
}

ChannelRecord Extension::undecorate_channel_hw(int kind, int index, const ChannelRecord& record) const {
    auto* f = find<UndecorateChannelHw>("Ex_Undecorate_Channel_Hw");
    if (f == nullptr) return record;
    std::vector<std::uint8_t> copy(record.bytes, record.bytes + kChannelRecordSize);
    ExBuffer buffer{static_cast<int32_t>(kChannelRecordSize), copy.data(), 0};
    f(kind, index, &buffer);
    std::vector<std::uint8_t> result = take_result(buffer, copy, "Ex_Undecorate_Channel_Hw");
    ChannelRecord out = record;
    std::memcpy(out.bytes, result.data(), std::min(result.size(), kChannelRecordSize));
    return out;
}

ExtType Extension::channel_extra_type(int kind, int index, const ChannelRecord& record) const {
    auto* f = find<GetChannelExtraType>("Ex_Get_Channel_Extra_Type");
    return f != nullptr ? typed(f(kind, index, record.bytes)) : ExtType();
}

std::optional<std::size_t> Extension::channel_extra_size(int kind, int index, const ChannelRecord& record,
                                                         std::span<const std::uint8_t> extra) const {
    auto* f = find<GetChannelExtraSize>("Ex_Get_Channel_Extra_Size");
    if (f == nullptr) return std::nullopt;
    int32_t answer = f(kind, index, record.bytes, extra.data());
    if (answer < 0 || static_cast<std::size_t>(answer) > extra.size()) {
        trace_answer(
            path_, "Ex_Get_Channel_Extra_Size",
            "gave " + std::to_string(answer) + " bytes, " + std::to_string(extra.size()) + " left: cut");
        return answer < 0 ? 0 : extra.size();
    }
    return static_cast<std::size_t>(answer);
}

void* Extension::channel_extra_struct(int kind) const {
    auto* f = find<GetChannelExtraStruct>("Ex_Get_Channel_Extra_Struct");
    return f != nullptr ? f(kind) : nullptr;
}

bool Extension::decorate_channel_extra(int kind, int index, const ChannelRecord& record,
                                       std::span<std::uint8_t> extra) const {
    auto* f = find<DecorateChannelExtra>("Ex_Decorate_Channel_Extra");
    if (f == nullptr) return false;
    ExBuffer buffer{size32(extra.size()), extra.data(), 0};
    f(kind, index, record.bytes, &buffer);
    take_back(buffer, extra, "Ex_Decorate_Channel_Extra");
    return true;
}

std::vector<std::uint8_t> Extension::undecorate_channel_extra(int kind, int index,
                                                              const ChannelRecord& record,
                                                              std::span<const std::uint8_t> extra) const {
    std::vector<std::uint8_t> copy(extra.begin(), extra.end());
    auto* f = find<UndecorateChannelExtra>("Ex_Undecorate_Channel_Extra");
    if (f == nullptr) return copy;
    ExBuffer buffer{size32(copy.size()), copy.data(), 0};
    f(kind, index, record.bytes, &buffer);
    return take_result(buffer, copy, "Ex_Undecorate_Channel_Extra");
}

int Extension::validate_chan(const FoundFieldList& found, const ChannelRecord& record,
                             std::string& message) const {
    auto* f = find<ValidateChan>("Ex_Validate_Chan");
    if (f == nullptr) return 0;
    char ebuf[QVR_EX_ERROR_MAX] = {};
    return validator_result(f(found.c_str(), record.bytes, ebuf, QVR_EX_ERROR_MAX), ebuf, message);
}

int Extension::validate_chan_extra(const FoundFieldList& found, const ChannelRecord& record,
                                   std::span<const std::uint8_t> extra, std::string& message) const {
    auto* f = find<ValidateChanExtra>("Ex_Validate_Chan_Extra");
    if (f == nullptr) return 0;
    char ebuf[QVR_EX_ERROR_MAX] = {};
    return validator_result(
        f(found.c_str(), record.bytes, extra.data(), size32(extra.size()), ebuf, QVR_EX_ERROR_MAX), ebuf,
        message);
}

bool Extension::mixed_channel_type() const {
    auto* f = find<GetMixedChannelType>("Ex_Get_Mixed_Channel_Type");
    return f != nullptr && f() == 1;
}

int Extension::validate_chan_with_config(void* const (&args)[7], std::string& message) const {
    auto* f = find<ValidateChanWithConfig>("Ex_ValidateChanWithConfig");
    if (f == nullptr) return 0;
    char ebuf[QVR_EX_ERROR_MAX] = {};
    int result = f(args[0], args[1], args[2], args[3], args[4], args[5], args[6], ebuf, QVR_EX_ERROR_MAX);
    return validator_result(result, ebuf, message);
}

}  // namespace qvr
