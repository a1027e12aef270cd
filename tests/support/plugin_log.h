// Reading back what the library wrote to its logs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testlog {

// The plug-in log of this process, one entry per line, with every time
// stamp ("12:15:00") replaced by "hh:mm:ss". Empty when there is no log.
std::vector<std::string> readPluginLog();
// The lines after the banner (the first 13 lines).
std::vector<std::string> pluginLogLines();
// Whether some line of the log equals `line` (masked form).
bool logHas(const std::string& line);
// How many lines equal `line`.
int logCount(const std::string& line);
// A line as the log holds it once masked: "hh:mm:ss - <tag>: message".
std::string line(const std::string& tag, const std::string& message);
// How many lines begin with `start`, and whether one does.
int logCountStarting(const std::string& start);
bool logHasStart(const std::string& start);
// Whether the log holds the line of a logError call with this code, whatever
// the code's text: "hh:mm:ss - <tag>: message (ERROR: <code>/".
bool logHasError(const std::string& tag, const std::string& message, uint32_t code);
// Writes the masked plug-in log to `path` with its dates masked too
// ("mm/dd/yyyy"), for comparing one session's log with another's.
bool writeMaskedPluginLog(const std::string& path);
// The whole graph log "dshow_log.txt", or empty.
std::string readGraphLog();

} // namespace testlog
