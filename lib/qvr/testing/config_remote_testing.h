#pragma once
// Test hooks of configuration access through the server.

namespace qvr::config_remote_testing {

// While on, every server is served by its requests and their fallbacks, also one reached by
// a pipe, so that the requests can be measured and recorded over the pipe transport.
void set_requests_for_every_server(bool on);

}  // namespace qvr::config_remote_testing
