// The plug-in log that TovixAPI.dll writes into the current folder,
// followed as the checks run: the lines each check added, and the failure
// among them that explains it.
#pragma once

#include <string>
#include <vector>

namespace diag {

class PluginLog {
  public:
    // The log of this process: tovix_log_<pid>.txt in the current folder.
    PluginLog();
    const std::string& path() const { return path_; }
    // The lines written since the last call, time stamps left out.
    std::vector<std::string> newLines();
    // The plug-in version its banner names, or empty.
    std::string bannerVersion() const;

  private:
    std::string path_;
    size_t read_ = 0;
};

// The line among `lines` that best explains a failure: the first with an
// error code, else the first that reports something missing or refused;
// empty when none does.
std::string failureLine(const std::vector<std::string>& lines);

} // namespace diag
