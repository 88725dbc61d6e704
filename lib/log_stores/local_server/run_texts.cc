// The runs' "TEXT" and "HEADER" sections, read again only when the run's text time moved.
#include <cstring>
#include <string>

#include "log_stores/local_server/refresh_parts.h"

namespace log_stores::local {
namespace {

// A section far beyond any logger's text is not read.
constexpr std::size_t kMaxSection = 64u << 20;

// The section, or nullopt when the store cannot read it (a missing section reads empty).
std::optional<std::string> read_section(CLogStore& store, const char* section) {
    std::size_t size = 0;
    if (store.ReadSection(section, nullptr, &size, 0, 0) < 0) return std::nullopt;
    if (size <= 1) return std::string();
    if (size > kMaxSection) return std::nullopt;
    std::string text(size, '\0');
    std::size_t room = size;
    if (store.ReadSection(section, text.data(), &room, 0, 0) < 0) return std::nullopt;
    text.resize(strnlen(text.data(), size));
    return text;
}

}  // namespace

void RefreshRunTexts(LocalDataServer& server, RunEntry& run, RunScan& scan) {
    if (!run.store || scan.texts_final) return;
    const bool logging = run.stop.seconds == 0;
    CLogStore* source = run.store.get();
    if (server.database_ && run.records > 0) {
        // A database store forgets its place in the records when asked for texts: once
        // records are cached, texts come through a store of their own.
        if (!scan.text_store && server.collections_[0] && server.collections_[0]->collection)
            scan.text_store = server.collections_[0]->collection->OpenStore(run.name.c_str(), kGenericRead);
        source = scan.text_store.get();
        if (source == nullptr) return;
    }
    std::int32_t time = 0;
    const bool timed = source->GetTextTime(time) == 0;
    if (scan.texts_read && logging && !scan.texts_recheck && timed && scan.text_time == time) return;
    auto text = read_section(*source, "TEXT");
    auto header = read_section(*source, "HEADER");
    if (text) scan.text_section = std::move(*text);
    if (header) scan.header_section = std::move(*header);
    // A change within the second of this read leaves the time as it is: one more look.
    scan.texts_recheck = !scan.texts_read || scan.text_time != time || !timed;
    scan.text_time = timed ? std::optional<std::int32_t>(time) : std::nullopt;
    scan.texts_read = true;
    if (!logging) {
        scan.texts_final = true;
        scan.text_store.reset();
    }
}

}  // namespace log_stores::local
