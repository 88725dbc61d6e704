// Notices kept while no batch of their module could begin.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "qvr/host/alarm_internal.h"
#include "qvr/testing/alarm_testing.h"

namespace qvr::alarm_state {
namespace {

struct KeptStore {
    std::mutex mutex;
    std::deque<KeptNotice> notices;
    size_t limit = kMaxKeptNotices;
};

KeptStore& store() {
    static KeptStore s;
    return s;
}

bool same_module(const char a[2], const char b[2]) {
    return a[0] == b[0] && a[1] == b[1];
}

}  // namespace

void keep(KeptNotice notice) {
    KeptStore& s = store();
    char dropped[2] = {0, 0};
    bool full = false;
    {
        std::lock_guard lock(s.mutex);
        if (s.limit == 0) {
            full = true;
            std::memcpy(dropped, notice.code, 2);
        } else {
            // The oldest goes: the newest notices tell the state the channels are in.
            if (s.notices.size() >= s.limit) {
                full = true;
                std::memcpy(dropped, s.notices.front().code, 2);
                s.notices.pop_front();
            }
            s.notices.push_back(std::move(notice));
        }
    }
    if (full) {
        char what[96];
        std::snprintf(what, sizeof what, "the oldest kept notice of %.2s (%zu kept at most)", dropped,
                      s.limit);
        trace_lost(what, ENOBUFS);
    }
}

std::vector<KeptNotice> take_kept(const char code[2]) {
    KeptStore& s = store();
    std::vector<KeptNotice> taken;
    std::lock_guard lock(s.mutex);
    if (s.notices.empty()) return taken;
    std::deque<KeptNotice> others;
    for (KeptNotice& n : s.notices) {
        if (same_module(n.code, code))
            taken.push_back(std::move(n));
        else
            others.push_back(std::move(n));
    }
    s.notices = std::move(others);
    return taken;
}

}  // namespace qvr::alarm_state

namespace qvr::alarm_testing {

size_t set_kept_notice_limit(size_t limit) {
    auto& s = alarm_state::store();
    std::lock_guard lock(s.mutex);
    const size_t previous = s.limit;
    s.limit = limit;
    while (s.notices.size() > s.limit) s.notices.pop_front();
    return previous;
}

void forget_kept_notices() {
    auto& s = alarm_state::store();
    std::lock_guard lock(s.mutex);
    s.notices.clear();
}

}  // namespace qvr::alarm_testing
