#pragma once
// The factories of the logged-data stores and collections: a location's kind chooses the
// class. Objects belong to the caller and are not opened.
#include <functional>
#include <memory>

#include "log_stores/log_collection.h"
#include "log_stores/log_store.h"

namespace log_stores {

inline constexpr std::size_t kLatestRunLocationSize = 1285;

// None for the kinds that have no back end here (WITSML, OSDU) and for kinds whose class
// this build does not have.
std::unique_ptr<CLogStore> CreateLogStore(const char* location);
std::unique_ptr<CLogCollection> CreateLogCollection(const char* location);

// The MySQL kind lives in its own library (log_stores_mysql, on the server's client library);
// its users call RegisterMySqlLogStores() once, which hands these makers over. Until then the
// kind has no class here.
using StoreMaker = std::function<std::unique_ptr<CLogStore>()>;
using CollectionOnlyMaker = std::function<std::unique_ptr<CLogCollection>()>;
void SetMySqlMakers(StoreMaker store, CollectionOnlyMaker collection);

// The store location of the latest run of the logger named by ";LoggerName=" in a
// database location; a location that names a run already comes back unchanged; "" when
// there is none. The text lives in a buffer of the calling thread until its next call.
const char* GetLatestRunLocation(const char* location);

// The same with the collection made by `make` in place of CreateLogCollection.
using CollectionMaker = std::function<std::unique_ptr<CLogCollection>(const char* location)>;
const char* GetLatestRunLocation(const char* location, const CollectionMaker& make);

}  // namespace log_stores
