// The simulated runtime's services to the card's components, in the DLL that
// serves them to the system's COM: fault points (never armed here), the trace
// and text conversion. The class table, GUID names and QueryInterface are the
// world's own (com/classes.cpp).
#include "server.h"

#include "../com/runtime.h"

namespace sim {

// Faults are injected by the Linux tests only; under a real COM runtime
// every point answers "carry on".
Fault fault(const std::string&) {
    return Fault();
}

void keepTraceLine(const char* line) {
    OutputDebugStringA(line);
}

void setLastError(DWORD error) {
    SetLastError(error);
}

std::string narrow(LPCWSTR wide) {
    if (!wide)
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::wstring widen(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (n <= 1)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

} // namespace sim
