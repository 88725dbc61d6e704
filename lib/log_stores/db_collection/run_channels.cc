#include "log_stores/db_collection/run_channels.h"

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

#include "log_stores/run_file_store/channel_sources.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/ipc/shm.h"

namespace log_stores::db_collection {

db_schema::ChannelLookup lookup_in_table(const LogHeader& header, const qvr::ChannelRecord* const* channels) {
    std::vector<std::span<const qvr::ChannelRecord>> blocks;
    const std::size_t count = std::min<std::size_t>(header.blockCount, header.blocks.size());
    for (std::size_t b = 0; b < count; ++b) {
        const qvr::ChannelRecord* first = channels[b];
        blocks.emplace_back(first, first == nullptr ? 0 : header.blocks[b].channel_count());
    }
    return db_schema::lookup_in_blocks(header, blocks);
}

std::optional<db_schema::ChannelLookup> lookup_in_modules(const LogHeader& header) {
    // Copied under the module's lock, so the run's tables are made from one consistent
    // configuration and nothing points into shared memory afterwards.
    using Block = std::vector<std::optional<qvr::ChannelRecord>>;
    auto copies = std::make_shared<std::vector<Block>>();
    const std::size_t count = std::min<std::size_t>(header.blockCount, header.blocks.size());
    for (std::size_t b = 0; b < count; ++b) {
        const BlockDescriptor& block = header.blocks[b];
        const std::string code = db_schema::block_prefix(block);
        void* data = shm_OpenDeviceData(code.c_str());
        void* conf = data == nullptr ? nullptr : shm_OpenDeviceConf(code.c_str());
        qvr::ChannelRecord* records = conf == nullptr ? nullptr : shm_ConfRecords(data);
        if (records == nullptr || shm_Lock(conf) != 0) return std::nullopt;
        const std::size_t held = qvr::conf_record_count(qvr::section_bytes(conf));
        Block copy;
        for (std::uint32_t n = block.firstChannel; n <= block.lastChannel && n <= 0xFFFF; ++n) {
            const auto at = db_schema::module_index(static_cast<std::uint16_t>(n), held);
            copy.push_back(at ? std::optional<qvr::ChannelRecord>(records[*at]) : std::nullopt);
        }
        shm_Unlock(conf);
        copies->push_back(std::move(copy));
    }
    std::vector<std::uint16_t> first;
    for (std::size_t b = 0; b < count; ++b) first.push_back(header.blocks[b].firstChannel);
    return [copies, first](std::size_t block, std::uint16_t channel) -> const qvr::ChannelRecord* {
        if (block >= copies->size() || channel < first[block]) return nullptr;
        const auto& records = (*copies)[block];
        const std::size_t at = channel - first[block];
        return at < records.size() && records[at] ? &*records[at] : nullptr;
    };
}

std::optional<db_schema::ChannelLookup> lookup_from_server(const std::string& server, const LogHeader& header) {
    auto fetched = std::make_shared<std::vector<std::vector<qvr::ChannelRecord>>>();
    const std::size_t count = std::min<std::size_t>(header.blockCount, header.blocks.size());
    for (std::size_t b = 0; b < count; ++b) {
        std::vector<qvr::ChannelRecord> records(header.blocks[b].channel_count());
        if (run_file_store::fetch_server_configurations(server, header.blocks[b], records) != 0) return std::nullopt;
        fetched->push_back(std::move(records));
    }
    std::vector<std::span<const qvr::ChannelRecord>> blocks(fetched->begin(), fetched->end());
    auto lookup = db_schema::lookup_in_blocks(header, blocks);
    // The lookup borrows the records: keep them alive as long as it is.
    return [fetched, lookup](std::size_t block, std::uint16_t channel) { return lookup(block, channel); };
}

db_schema::ChannelLookup zero_lookup() {
    return [](std::size_t, std::uint16_t) -> const qvr::ChannelRecord* {
        static const qvr::ChannelRecord empty{};
        return &empty;
    };
}

}  // namespace log_stores::db_collection
