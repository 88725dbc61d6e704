#include "controller/faults.h"

namespace sim_controller {

std::string_view fault_name(FaultKind kind) {
    switch (kind) {
        case FaultKind::drop_response:
            return "drop response";
        case FaultKind::nak:
            return "NAK";
        case FaultKind::corrupt_byte:
            return "corrupt byte";
        case FaultKind::corrupt_bcc:
            return "corrupt block check";
        case FaultKind::delay_ack:
            return "delay ACK";
        case FaultKind::delay_reply:
            return "delay reply";
        case FaultKind::duplicate_reply:
            return "duplicate reply";
        case FaultKind::inject_enq:
            return "inject ENQ";
        case FaultKind::inject_garbage:
            return "inject bytes";
        case FaultKind::close_line:
            return "close line";
    }
    return "?";
}

}  // namespace sim_controller
