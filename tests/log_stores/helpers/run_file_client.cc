// A second process that logs into a run file, for the run file store's tests.
//   run_file_client write <path> <batches> <max batch>
//       appends batches of 1 .. <max batch> records, writing the end offset after each;
//       prints "done <records>"
//   run_file_client partial <path> <batches> <batch>
//       appends the batches, then half of one more record as a batch cut short would leave
//       it; prints "partial" and waits to be killed
//   run_file_client fsize <path> <limit>
//       logs under a file size limit of <limit> bytes: a batch of 5 records that crosses it,
//       then, with the limit lifted, a batch of 2; prints "first <result> <errno> <end moved>",
//       "second <result>"
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log_stores/run_file_store/run_file_store.h"
#include "platform/file_io.h"
#include "run_file_fixture.h"

namespace {

using log_stores::CLogFileStore;
using log_stores::LogHeader;

int open_for_logging(CLogFileStore& store, const char* path, LogHeader& h) {
    if (store.Open(nullptr, path, log_stores::kGenericRead | log_stores::kGenericWrite) != 0) return -1;
    if (store.ReadHeader(h) != 0) return -1;
    return store.OpenForLogging(h);
}

int fail(const char* step) {
    std::printf("failed %s %d\n", step, errno);
    std::fflush(stdout);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string command = argv[1];
    const char* path = argv[2];
    CLogFileStore store;
    LogHeader h;
    if (command == "fsize") {
        const rlimit limit{static_cast<rlim_t>(std::atoll(argv[3])), RLIM_INFINITY};
        ::signal(SIGXFSZ, SIG_IGN);
        if (open_for_logging(store, path, h) != 0) return fail("open");
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return fail("limit");
        const std::uint32_t end = store.end_offset();
        const auto batch = run_file_test::make_records(h, h.recordCount, 5);
        const int first = store.WriteLogs(h, batch.data(), 5);
        std::printf("first %d %d %d\n", first, errno, store.end_offset() != end ? 1 : 0);
        const rlimit lifted{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &lifted);
        const auto good = run_file_test::make_records(h, h.recordCount, 2);
        std::printf("second %d\n", store.WriteLogs(h, good.data(), 2));
        store.Close();
        return 0;
    }
    const int batches = std::atoi(argv[3]);
    const int batch_size = argc > 4 ? std::atoi(argv[4]) : 1;
    if (open_for_logging(store, path, h) != 0) return fail("open");
    std::int64_t next = h.recordCount;
    for (int b = 0; b < batches; ++b) {
        const int n = command == "write" ? 1 + (b * 7) % batch_size : batch_size;
        const auto records = run_file_test::make_records(h, next, n);
        if (store.WriteLogs(h, records.data(), n) != 0) return fail("write");
        if (store.WriteEndOffset(0) != 0) return fail("end");
        next += n;
    }
    if (command == "partial") {
        const auto half = run_file_test::make_records(h, next, 1);
        platform::UniqueFd fd = platform::open_file(path, O_WRONLY);
        if (platform::pwrite_all(fd.get(), std::span(half).first(half.size() / 2), store.end_offset()) != 0)
            return fail("half");
        std::printf("partial\n");
        std::fflush(stdout);
        for (;;) ::pause();
    }
    store.Close();
    std::printf("done %lld\n", static_cast<long long>(next));
    return 0;
}
