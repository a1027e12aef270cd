#include "plugin_log.h"

#include <windows.h>

#include <cstdio>

namespace diag {

namespace {

std::vector<std::string> readLines(const std::string& path) {
    fflush(nullptr);
    std::vector<std::string> lines;
    FILE* file = fopen(path.c_str(), "r");
    if (!file)
        return lines;
    std::string line;
    char chunk[512];
    while (fgets(chunk, sizeof chunk, file)) {
        line += chunk;
        if (line.back() != '\n')
            continue; // a line longer than the chunk
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(line);
        line.clear();
    }
    if (!line.empty())
        lines.push_back(line);
    fclose(file);
    return lines;
}

// "12:15:00 - <openFile>: ..." without its time.
std::string withoutTime(const std::string& line) {
    if (line.size() > 11 && line[2] == ':' && line[5] == ':' && line.compare(8, 3, " - ") == 0)
        return line.substr(11);
    return line;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

} // namespace

PluginLog::PluginLog() {
    path_ = "tovix_log_" + std::to_string(GetCurrentProcessId()) + ".txt";
}

std::vector<std::string> PluginLog::newLines() {
    std::vector<std::string> all = readLines(path_);
    std::vector<std::string> added;
    for (size_t i = read_; i < all.size(); i++)
        added.push_back(withoutTime(all[i]));
    read_ = all.size();
    return added;
}

std::string PluginLog::bannerVersion() const {
    const std::string mark = "Tovix Version: ";
    for (const std::string& line : readLines(path_)) {
        size_t at = line.find(mark);
        if (at != std::string::npos) {
            size_t start = at + mark.size();
            return line.substr(start, line.find(' ', start) - start);
        }
    }
    return "";
}

std::string failureLine(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (contains(line, "(ERROR:") && !contains(line, "(ERROR: 0/")) // 0 is no failure
            return line;
    static const char* const kWords[] = {"Failed", "Cannot",  "Can not", "Could not",
                                         "No OSD", "Unknown", "must be", "failed"};
    for (const std::string& line : lines)
        for (const char* word : kWords)
            if (contains(line, word))
                return line;
    return "";
}

} // namespace diag
