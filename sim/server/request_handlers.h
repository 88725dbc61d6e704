#pragma once
// Handlers of the stand-in server for the processor, device, logger, value, server-state,
// remote-file and configuration requests, answering from `tables` and from the files of
// `tree` (paths begin with a folder key). A path that is absolute, holds "..", or leads out
// of the tree through a symbolic link gets "-1,5". Unknown items get "-1,2".
#include "server/dispatcher.h"
#include "server/product_tree.h"
#include "server/request_tables.h"

namespace sim_server {

// Both must outlive the dispatcher's use of the handlers.
void add_request_handlers(Dispatcher& dispatcher, RequestTables& tables, const ProductTree& tree);

}  // namespace sim_server
