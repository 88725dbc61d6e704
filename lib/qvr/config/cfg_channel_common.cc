// Pieces the channel table loader and writers share.
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "platform/last_error.h"
#include "qvr/config/cfg_channel_internal.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_xml_fields.h"

namespace qvr::cfg {
namespace {

// An id as a number, as the XML layer's attribute search reads it ("05" and " 5 " are 5).
std::optional<double> id_number(const char* text) {
    if (text == nullptr) return std::nullopt;
    std::string_view t(text);
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t' || t.front() == '\n' || t.front() == '\r'))
        t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\n' || t.back() == '\r'))
        t.remove_suffix(1);
    double value = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), value, std::chars_format::fixed);
    if (t.empty() || r.ec != std::errc{} || r.ptr != t.data() + t.size()) return std::nullopt;
    return value;
}

bool is_channel_element(XmlNode* node) {
    XmlText name(xml_getName(node));
    if (!name) return false;
    const char* local = std::strrchr(name.get(), ':');
    return std::strcmp(local != nullptr ? local + 1 : name.get(), "Channel") == 0;
}

}  // namespace

bool valid_channel_request(const char* dir, int kind, int first, int count, std::int32_t extra_size,
                           const char* extra_file) {
    const bool good = dir != nullptr && kind >= 0 && kind <= 6 && first >= 0 && count >= 0 &&
                      count <= INT_MAX - 1 - first && extra_size >= 0 &&
                      (extra_file == nullptr || plain_file_name(extra_file));
    if (!good) platform::fail(platform::kErrorInvalidArgument);
    return good;
}

std::optional<std::int32_t> channel_extra_answer(const Extension& e, int kind, int index,
                                                 const ChannelRecord& record, const void* share) {
    auto* size_of =
        reinterpret_cast<decltype(Ex_Get_Channel_Extra_Size)*>(e.entry("Ex_Get_Channel_Extra_Size"));
    if (size_of == nullptr) return std::nullopt;
    return size_of(kind, index, record.bytes, share);
}

ChannelIndex::ChannelIndex(XmlNode* root) {
    if (root == nullptr) return;
    XmlNodeRef node(xml_FirstChild(root));
    while (node) {
        XmlNodeRef next(xml_NextSibling(node.get()));
        if (is_channel_element(node.get())) {
            XmlText id(xml_getAttribute(node.get(), "id"));
            const std::optional<double> number = id_number(id.get());
            if (number && *number == std::floor(*number) && std::fabs(*number) < 1e15) {
                const auto key = static_cast<long long>(*number);
                if (nodes_.find(key) == nodes_.end()) nodes_.emplace(key, std::move(node));
            }
        }
        node = std::move(next);
    }
}

XmlNode* ChannelIndex::find(int id) const {
    auto it = nodes_.find(id);
    return it != nodes_.end() ? it->second.get() : nullptr;
}

void ChannelIndex::add(int id, XmlNodeRef node) {
    nodes_[id] = std::move(node);
}

const std::vector<std::string>& LayoutLeaves::of(const ChannelLayout& layout, const ChannelRecord& record) {
    const auto* fields = static_cast<const StructsField*>(layout.type().args[0].v);
    const StructsField* last = fields;
    while (last[1].name != nullptr) ++last;
    auto& cache = by_hardware_[layout.digital() ? 1 : 0];
    auto it = cache.find(last->type);
    if (it == cache.end()) it = cache.emplace(last->type, leaf_names(&layout.type(), record.bytes)).first;
    return it->second;
}

}  // namespace qvr::cfg

const char* cfg_ChannelKindName(int kind) {
    // Kinds 5 and 6 share the file "dc"; stored tables rely on it.
    static constexpr const char* kWords[] = {"ai", "di", "ao", "do", "ci", "dc", "dc"};
    return kind >= 0 && kind <= 6 ? kWords[kind] : "";
}
