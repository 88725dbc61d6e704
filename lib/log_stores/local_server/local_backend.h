#pragma once
// Hands the local data server to the link layer (kind 3). Called once by whatever links the
// logged-data stores and wants folders and "PROVIDER=" strings answered in-process.
namespace log_stores {
void RegisterLocalDataServer();
}
