// The card's output registers and its profile of mode descriptions.
#include "../com/runtime.h"
#include "state.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

const simcard::Registers kStart = {0x01, 0, 0, 0, 0};

std::mutex gMutex;
int gValues[sim::card::kRegisterCount] = {kStart.outputFlags, kStart.aspect, kStart.hdMode,
                                          kStart.vgaMode, kStart.audioOutput};
int gWrites[sim::card::kRegisterCount] = {};
int gReads[sim::card::kRegisterCount] = {};
bool gProfileOverride = false;
std::string gProfileText;

// Realistic modes of an HD-capable decoder card: the HD output modes, then
// the VGA resolutions of its progressive output.
const char kBuiltinProfile[] = "[HDTV]\n"
                               "mode0=480p 720 480\n"
                               "mode1=576p 720 576\n"
                               "mode2=720p 1280 720\n"
                               "mode3=720p50 1280 720\n"
                               "mode4=1080i 1920 1080\n"
                               "mode5=1080i50 1920 1080\n"
                               "[Progressive]\n"
                               "mode0=VGA 640 480\n"
                               "mode1=SVGA 800 600\n"
                               "mode2=XGA 1024 768\n"
                               "mode3=WXGA 1280 768\n"
                               "mode4=SXGA 1280 1024\n"
                               "mode5=WXGA+ 1360 768\n";

simcard::Registers toRegisters(const int* v) {
    return {v[0], v[1], v[2], v[3], v[4]};
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// Looks a key up in INI text as the Windows profile functions do: section
// and key names ignore case, the value is the rest of the line trimmed, and
// lines that are neither a section nor a key are skipped.
bool lookupIni(const std::string& text, const std::string& section, const std::string& key,
               std::string* value) {
    std::istringstream in(text);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (t[0] == '[') {
            size_t close = t.find(']');
            inSection = close != std::string::npos &&
                        equalsIgnoreCase(trim(t.substr(1, close - 1)), section);
            continue;
        }
        size_t eq = t.find('=');
        if (!inSection || eq == std::string::npos)
            continue;
        if (equalsIgnoreCase(trim(t.substr(0, eq)), key)) {
            *value = trim(t.substr(eq + 1));
            return true;
        }
    }
    return false;
}

} // namespace

namespace sim {
namespace card {

int readRegister(Register r) {
    std::lock_guard<std::mutex> lock(gMutex);
    gReads[r]++;
    return gValues[r];
}

void writeRegister(Register r, int value) {
    std::lock_guard<std::mutex> lock(gMutex);
    gWrites[r]++;
    gValues[r] = value;
}

bool profileValue(const std::string& section, const std::string& key, std::string* value) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gProfileOverride)
            text = gProfileText;
    }
    if (text.empty()) {
        const char* path = getenv("TOVIX_SIM_PROFILE");
        if (path && *path) {
            std::ifstream file(path);
            if (file) {
                std::ostringstream all;
                all << file.rdbuf();
                text = all.str();
            } else {
                sim::trace("profile file '%s' cannot be read; using the built-in profile", path);
            }
        }
    }
    if (text.empty())
        text = kBuiltinProfile;
    return lookupIni(text, section, key, value);
}

} // namespace card
} // namespace sim

namespace simcard {

Registers startRegisters() {
    return kStart;
}

Registers registers() {
    std::lock_guard<std::mutex> lock(gMutex);
    return toRegisters(gValues);
}

void setRegisters(const Registers& values) {
    std::lock_guard<std::mutex> lock(gMutex);
    gValues[sim::card::kOutputFlags] = values.outputFlags;
    gValues[sim::card::kAspect] = values.aspect;
    gValues[sim::card::kHdMode] = values.hdMode;
    gValues[sim::card::kVgaMode] = values.vgaMode;
    gValues[sim::card::kAudioOutput] = values.audioOutput;
}

Registers registerWrites() {
    std::lock_guard<std::mutex> lock(gMutex);
    return toRegisters(gWrites);
}

Registers registerReads() {
    std::lock_guard<std::mutex> lock(gMutex);
    return toRegisters(gReads);
}

void resetRegisterCounts() {
    std::lock_guard<std::mutex> lock(gMutex);
    for (int i = 0; i < sim::card::kRegisterCount; i++)
        gWrites[i] = gReads[i] = 0;
}

void setProfileText(const std::string& iniText) {
    std::lock_guard<std::mutex> lock(gMutex);
    gProfileOverride = true;
    // An empty override still overrides: a card whose profile is empty.
    gProfileText = iniText.empty() ? std::string("\n") : iniText;
}

void clearProfileText() {
    std::lock_guard<std::mutex> lock(gMutex);
    gProfileOverride = false;
    gProfileText.clear();
}

std::string builtinProfile() {
    return kBuiltinProfile;
}

bool profileValue(const std::string& section, const std::string& key, std::string* value) {
    return sim::card::profileValue(section, key, value);
}

void reset() {
    setRegisters(kStart);
    resetRegisterCounts();
    clearProfileText();
    sim::card::resetOsdLayer();
    sim::card::resetStreamRecords();
}

} // namespace simcard
