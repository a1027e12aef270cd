#include "plugin_log.h"

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace testlog {

std::vector<std::string> readPluginLog() {
    fflush(nullptr); // the banner waits in the stream for the first line
    std::ifstream in("tovix_log_" + std::to_string(getpid()) + ".txt");
    std::vector<std::string> lines;
    static const std::regex stamp("[0-9]{2}:[0-9]{2}:[0-9]{2}");
    std::string line;
    while (std::getline(in, line))
        lines.push_back(std::regex_replace(line, stamp, "hh:mm:ss"));
    return lines;
}

std::vector<std::string> pluginLogLines() {
    std::vector<std::string> lines = readPluginLog();
    if (lines.size() <= 13)
        return {};
    return std::vector<std::string>(lines.begin() + 13, lines.end());
}

bool logHas(const std::string& line) {
    return logCount(line) > 0;
}

int logCount(const std::string& line) {
    int n = 0;
    for (const std::string& l : readPluginLog())
        if (l == line)
            n++;
    return n;
}

std::string line(const std::string& tag, const std::string& message) {
    return "hh:mm:ss - <" + tag + ">: " + message;
}

int logCountStarting(const std::string& start) {
    int n = 0;
    for (const std::string& l : readPluginLog())
        if (l.compare(0, start.size(), start) == 0)
            n++;
    return n;
}

bool logHasStart(const std::string& start) {
    return logCountStarting(start) > 0;
}

bool logHasError(const std::string& tag, const std::string& message, uint32_t code) {
    char hex[16];
    snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(code));
    return logHasStart(line(tag, message) + " (ERROR: " + hex + "/");
}

std::string readGraphLog() {
    std::ifstream in("dshow_log.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeMaskedPluginLog(const std::string& path) {
    static const std::regex date("[0-9]{2}/[0-9]{2}/[0-9]{4}");
    std::ofstream out(path);
    for (const std::string& line : readPluginLog())
        out << std::regex_replace(line, date, "mm/dd/yyyy") << "\n";
    return static_cast<bool>(out);
}

} // namespace testlog
