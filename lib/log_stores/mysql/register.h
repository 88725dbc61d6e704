#pragma once
// Makes the MySQL kind known to CreateLogStore and CreateLogCollection. Call once before the
// factories are used (again: no harm).
namespace log_stores {
void RegisterMySqlLogStores();
}  // namespace log_stores
