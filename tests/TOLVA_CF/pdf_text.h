#pragma once
// What a PDF file shows, read with the poppler tools: its page count and each page's text
// laid out in columns of the font's own advance, so it compares with printed lines.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "printout_pages.h"
#include "support/child_process.h"

namespace tolva_cf_test {

inline std::string run_tool(const std::string& program, const std::vector<std::string>& args) {
    using namespace std::chrono_literals;
    auto child = qvr_test::ChildProcess::spawn(program, args, {}, true);
    std::string out = child.read_stdout_to_end(60s);
    child.wait(10s);
    return out;
}

// The text after `key` up to the next `end`, or "" when the key is missing.
inline std::string text_after(const std::string& text, const std::string& key, char end, std::size_t from = 0) {
    const std::size_t at = text.find(key, from);
    if (at == std::string::npos) return {};
    const std::size_t start = at + key.size();
    return text.substr(start, text.find(end, start) - start);
}

inline int pdf_pages(const std::string& pdf) {
    const std::string info = run_tool("/usr/bin/pdfinfo", {pdf});
    const std::string pages = text_after(info, "Pages:", '\n');
    return pages.empty() ? -1 : std::atoi(pages.c_str());
}

// The advance of one character in points: the width of the first word over its length.
inline double pdf_char_width(const std::string& pdf) {
    const std::string boxes = run_tool("/usr/bin/pdftotext", {"-bbox", "-f", "1", "-l", "1", pdf, "-"});
    const std::size_t word = boxes.find("<word ");
    if (word == std::string::npos) return 0;
    const double x_min = std::atof(text_after(boxes, "xMin=\"", '"', word).c_str());
    const double x_max = std::atof(text_after(boxes, "xMax=\"", '"', word).c_str());
    const std::string text = text_after(boxes, ">", '<', word);
    return text.empty() ? 0 : (x_max - x_min) / static_cast<double>(text.size());
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
