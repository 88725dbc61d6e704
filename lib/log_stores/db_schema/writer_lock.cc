#include "log_stores/db_schema/writer_lock.h"

#include <cstdio>
#include <span>

#include "log_stores/db_schema/append_ledger.h"

namespace log_stores::db_schema {

std::string writer_lock_name(std::string_view database, std::string_view table_prefix) {
    const std::string whole = std::string(database) + "." + std::string(table_prefix) + "DATA";
    const std::uint64_t h =
        fingerprint(std::span(reinterpret_cast<const std::uint8_t*>(whole.data()), whole.size()));
    char name[40];
    std::snprintf(name, sizeof name, "qvr_run_writer_%016llx", static_cast<unsigned long long>(h));
    return name;
}

Claim claim_writer_lock(const std::string& name, std::optional<std::int64_t> previous, int wait_seconds,
                        const ValueQuery& value) {
    // The name is made of letters, digits and '_': it needs no escaping.
    const std::string quoted = "'" + name + "'";
    const auto take = [&](int seconds) -> Claim {
        const auto got = value("SELECT GET_LOCK(" + quoted + ", " + std::to_string(seconds) + ")");
        if (!got || !*got) return Claim::failed;
        return **got == 1 ? Claim::taken : Claim::held_elsewhere;
    };
    const Claim first = take(0);
    if (first != Claim::held_elsewhere) return first;
    const auto holder = value("SELECT IS_USED_LOCK(" + quoted + ")");
    if (holder && *holder && previous && **holder == *previous) {
        // This store's own earlier session, cut off from its client: ended now, its last
        // transaction settled before the lock comes free.
        (void)value("KILL " + std::to_string(*previous));
    }
    return take(wait_seconds);
}

}  // namespace log_stores::db_schema
