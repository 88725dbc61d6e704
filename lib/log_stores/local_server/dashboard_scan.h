#pragma once
// The web dashboards' files read as text: the dashboard names a menu lists and the channels
// a dashboard shows. Dashboards are written by a web editor and need not be well-formed
// documents, so the scan looks for the elements it needs and ignores everything else.
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/local_server/local_data_server.h"

namespace log_stores::local {

// The text of every <Item> element of a menu, entities decoded and trimmed; empty texts
// and names that would leave the dashboards' folder (absolute, or with a ".." part) are
// left out. '\' separators become '/'.
std::vector<std::string> MenuItems(std::string_view menu);

// Adds to `keys` the channel of every <channel> element (and every <XChannel> element when
// `with_xchannels`) whose <prefix> and <no> children are both present and not empty: the
// first two characters of the prefix and a number of 1 to 32,767 (a <no> that is not a
// whole number in that range adds nothing). Neither sorted nor unique.
void AddDashboardChannels(std::string_view dashboard, bool with_xchannels, std::vector<ChannelKey>& keys);

// Sorts by key_less and drops repeats.
void SortUniqueKeys(std::vector<ChannelKey>& keys);

}  // namespace log_stores::local
