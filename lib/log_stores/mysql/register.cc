#include "log_stores/mysql/register.h"

#include <memory>

#include "log_stores/log_factory.h"
#include "log_stores/mysql/mysql_collection.h"
#include "log_stores/mysql/mysql_store.h"

namespace log_stores {

void RegisterMySqlLogStores() {
    SetMySqlMakers([] { return std::make_unique<CLogDbMySQLStore>(); },
                   [] { return std::make_unique<CLogDbMySQLCollection>(); });
}

}  // namespace log_stores
