// DATPROC.TXT, DEVCAP.TXT and LOGCAP.TXT come from people and other tools: any bytes are
// read as a list file and every line goes through the three rules, with the lines before it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_temp_folder.h"
#include "qvr/requests/list_file.h"

using namespace qvr::requests;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path folder = fuzz_support::process_folder("/tmp/list_line_fuzz.XXXXXX");
    const std::string path = (folder / "LIST.TXT").string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (OpenListFile(path.c_str()) != 0) return 0;
    std::vector<ProcessorRecord> processors;
    std::vector<DeviceInfoRecord> devices;
    ListLine line;
    int lines = 0;
    while (next_list_line(9, line) && lines++ < 10000) {
        if (line.text.size() > kListLineMax) __builtin_trap();
        std::string message;
        ProcessorRecord p;
        const std::size_t kept = line.fields.size() < 5 ? line.fields.size() : 5;
        const std::vector<std::string> five(line.fields.begin(),
                                            line.fields.begin() + static_cast<std::ptrdiff_t>(kept));
        if (processor_from_line(five, processors, p, message)) {
            if (std::memchr(p.name, '\0', sizeof p.name) == nullptr) __builtin_trap();
            processors.push_back(p);
        }
        DeviceInfoRecord d;
        if (device_from_line(line.fields, devices, d, message)) {
            if (std::memchr(d.key, '\0', sizeof d.key) == nullptr || d.number < 1 || d.number > 99)
                __builtin_trap();
            devices.push_back(d);
        }
        LoggerInfoRecord l;
        if (logger_from_line(five, l, message) && std::memchr(l.kind, '\0', sizeof l.kind) == nullptr)
            __builtin_trap();
    }
    CloseListFile();
    return 0;
}
