// Loading and reading a channel table the way the channel loader does: find each channel
// by id, each field by name, take its text, remove what was read. Time per channel must not
// grow with the table. Also shown: finding every channel by id without removing any (the
// update of a table in place), whose search starts at the first channel each time.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qvr/records/channel_record_types.h"
#include "qvr/xml/xml.h"

namespace {

using Clock = std::chrono::steady_clock;
using qvr::XmlNodeRef;

std::vector<std::string> field_names() {
    std::vector<std::string> names;
    for (const StructsField* f = qvr::kAnalogChannelFields; f->name != nullptr; ++f)
        names.emplace_back(f->name);
    return names;
}

std::string table_text(int channels, const std::vector<std::string>& fields) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!--Created Automatically by Velmora.-->\n"
        "<Channels xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xmlns=\"http://www.brevantic.com/quorvane/tolva_ai\">\n";
    for (int i = 1; i <= channels; ++i) {
        text += "\t<Channel id=\"" + std::to_string(i) + "\">\n";
        for (const std::string& f : fields) text += "\t\t<" + f + ">12.5</" + f + ">\n";
        text += "\t</Channel>\n";
    }
    return text + "</Channels>\n";
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds to load the file and read every field of every channel, removing what was read.
double load_and_read(const std::string& path, int channels, const std::vector<std::string>& fields,
                     long& texts) {
    auto start = Clock::now();
    qvr::XmlDocumentRef doc(xml_NewDocument());
    if (xml_LoadFile(doc.get(), path.c_str()) != 0) {
        std::fprintf(stderr, "%s\n", xml_GetErrorText());
        std::exit(1);
    }
    XmlNodeRef root(xml_GetRootElement(doc.get()));
    for (int i = 1; i <= channels; ++i) {
        XmlNodeRef channel(xml_FindByAttribute(root.get(), "Channel", "id", std::to_string(i).c_str()));
        for (const std::string& f : fields) {
            XmlNodeRef element(xml_FindByName(channel.get(), f.c_str()));
            qvr::XmlText text(xml_getText(element.get()));
            texts += text ? 1 : 0;
            xml_RemoveChild(channel.get(), element.get());
        }
        xml_RemoveChild(root.get(), channel.get());
    }
    if (xml_GetStatus() != 0) std::exit(1);
    return seconds_since(start);
}

// Seconds to find every channel by id in a loaded table that keeps them all.
double find_all(const std::string& path, int channels) {
    qvr::XmlDocumentRef doc(xml_NewDocument());
    xml_LoadFile(doc.get(), path.c_str());
    XmlNodeRef root(xml_GetRootElement(doc.get()));
    auto start = Clock::now();
    for (int i = 1; i <= channels; ++i) {
        XmlNodeRef channel(xml_FindByAttribute(root.get(), "Channel", "id", std::to_string(i).c_str()));
        if (!channel) std::exit(1);
    }
    return seconds_since(start);
}

}  // namespace

int main() {
    const std::vector<std::string> fields = field_names();
    char folder[] = "/tmp/xml_bench_XXXXXX";
    if (::mkdtemp(folder) == nullptr) return 1;
    std::printf("channel table of %zu fields per channel\n", fields.size());
    std::printf("%9s %12s %16s %14s %16s\n", "channels", "load+read s", "us per channel", "find-only s",
                "us per channel");
    double per_channel[2] = {};
    int index = 0;
    for (int channels : {1000, 10000}) {
        std::string path = std::string(folder) + "/ai" + std::to_string(channels) + ".xml";
        std::FILE* f = std::fopen(path.c_str(), "w");
        std::string text = table_text(channels, fields);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        long texts = 0;
        double best = 1e9;
        for (int round = 0; round < 3; ++round)
            best = std::min(best, load_and_read(path, channels, fields, texts));
        double find = find_all(path, channels);
        per_channel[index++] = best * 1e6 / channels;
        std::printf("%9d %12.3f %16.2f %14.3f %16.2f\n", channels, best, best * 1e6 / channels, find,
                    find * 1e6 / channels);
        ::unlink(path.c_str());
    }
    ::rmdir(folder);
    std::printf("load+read per channel, 10000 vs 1000: %.2fx\n", per_channel[1] / per_channel[0]);
    return 0;
}
