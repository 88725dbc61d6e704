// "ES": enabling the server, and on this machine starting the processors that run from the
// desktop.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "qvr/host/host_tables.h"
#include "qvr/link/link.h"
#include "qvr/process/proc.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/requests/request_text.h"
#include "qvr/requests/value_requests.h"

using namespace qvr::requests;

namespace {

constexpr std::size_t kStateUserMax = 28;

std::string name_of(const ProcessorRecord& record) {
    return std::string(record.name, strnlen(record.name, sizeof record.name));
}

}  // namespace

int RequestES(const char* server) {
    const bool local = link_IsLocalServer(server) != 0;
    std::vector<std::string> to_start;
    if (local || link_GetServerKind(server) == kServerPipe) {
        const int count = CountProcessors(server);
        if (count < 0) return count;
        std::vector<ProcessorRecord> records(static_cast<std::size_t>(count));
        const int got = count == 0 ? 0
                                   : GetProcessorInfo(server, ("*," + std::to_string(count)).c_str(),
                                                      records.data(), count);
        if (got < 0) return got;
        for (int i = 0; i < got; ++i) {
            const ProcessorRecord& p = records[static_cast<std::size_t>(i)];
            if (p.run == 0 || !IsEnabledFromDesktop(server, p.print_name)) continue;
            const std::string name = name_of(p);
            if (!local || shm_FindProcess(name.c_str()) == nullptr) {
                errno = 0;
                platform::set_last_error(0);
                return -1;
            }
            to_start.push_back(name);
        }
    }
    Reply reply;
    const int result = send_text(server, "ES," + user_name_cut(kStateUserMax), kResultReplySize, reply);
    if (result > 0 && local) {
        for (const std::string& name : to_start)
            if (ProcessRecord* record = shm_FindProcess(name.c_str())) proc_Start(record);
    }
    return result;
}
