// Feeds every file below the given folders (or the given files) to the fuzz entry point.
// Used to run seed corpora and kept crash inputs as plain regression tests.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool run_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    if (!run_file(entry.path())) return 1;
                    ++count;
                }
            }
        } else {
            if (!run_file(arg)) return 1;
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    // An empty corpus means the seeds went missing: fail so it is noticed.
    return count > 0 ? 0 : 1;
}
