#pragma once
// Copying one channel's settings onto another, also between the analog and the digital
// layout.
#include "qvr/records/channel_record.h"

namespace tolva::cf {

// Copies `source` onto `destination` as a channel of kind `new_flags & 0xFF`. When bit 0
// changes the layout, everything after the flags is cleared except the extension parts of
// the tag and description (offsets 138-160, which mean the same in both layouts); the
// 16-byte address moves to the other layout's place, a new digital channel gets the state
// texts "HIGH" and "LOW", and Enable is kept. `destination` may be `source`.
void paste_channel(qvr::ChannelRecord& destination, const qvr::ChannelRecord& source, unsigned new_flags);

}  // namespace tolva::cf
