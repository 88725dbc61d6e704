#pragma once
// What a PDF file shows, read with the poppler tools: its page count and each page's text
// laid out in columns of the font's own advance, so it compares with printed lines.
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "printout_pages.h"
#include "support/child_process.h"

namespace tolva_cf_test {

inline std::string run_tool(const std::string& program, const std::vector<std::string>& args) {
    using namespace std::chrono_literals;
    auto child = qvr_test::ChildProcess::spawn(program, args, {}, true);
    std::string out;
    for (int i = 0; i < 600 && child.running(); ++i) {
        out += child.read_stdout(100ms);
        if (child.wait(0ms)) break;
    }
    child.wait(10s);
    out += child.read_stdout(0ms);
    return out;
}

inline int pdf_pages(const std::string& pdf) {
    const std::string info = run_tool("/usr/bin/pdfinfo", {pdf});
    std::smatch m;
    if (!std::regex_search(info, m, std::regex("Pages:\\s+(\\d+)"))) return -1;
    return std::stoi(m[1]);
}

// The advance of one character in points: the width of the first word over its length.
inline double pdf_char_width(const std::string& pdf) {
    const std::string boxes = run_tool("/usr/bin/pdftotext", {"-bbox", "-f", "1", "-l", "1", pdf, "-"});
    std::smatch m;
    if (!std::regex_search(boxes, m, std::regex("xMin=\"([0-9.]+)\"[^>]*xMax=\"([0-9.]+)\"[^>]*>([^<]+)<"))) {
        return 0;
    }
    return (std::stod(m[2]) - std::stod(m[1])) / static_cast<double>(m[3].length());
}

// Each page's non-empty lines, trailing blanks dropped and the page's common left margin
// taken away, as printed lines look without their blank ones.
inline Pages pdf_page_lines(const std::string& pdf) {
    const std::string width = std::to_string(pdf_char_width(pdf));
    const std::string text = run_tool("/usr/bin/pdftotext", {"-layout", "-fixed", width, pdf, "-"});
    Pages pages(1);
    std::string line;
    for (char c : text + "\n") {
        if (c == '\f') {
            pages.emplace_back();
        } else if (c == '\n') {
            line.erase(line.find_last_not_of(' ') + 1);
            if (!line.empty()) pages.back().push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    while (!pages.empty() && pages.back().empty()) pages.pop_back();
    for (auto& page : pages) {
        std::size_t margin = std::string::npos;
        for (const auto& l : page) margin = std::min(margin, l.find_first_not_of(' '));
        for (auto& l : page) l.erase(0, margin);
    }
    return pages;
}

// Printed pages as pdf_page_lines shows them.
inline Pages without_blank_lines(const Pages& printed) {
    Pages pages;
    for (const auto& page : printed) {
        pages.emplace_back();
        for (std::string l : page) {
            l.erase(l.find_last_not_of(' ') + 1);
            if (!l.empty()) pages.back().push_back(l);
        }
        std::size_t margin = std::string::npos;
        for (const auto& l : pages.back()) margin = std::min(margin, l.find_first_not_of(' '));
        for (auto& l : pages.back()) l.erase(0, margin);
    }
    return pages;
}

}  // namespace tolva_cf_test
