// Numbers written in the C locale, whatever locale the host process runs
// in. A JVM on Linux sets the user's locale for the whole process, and
// printf would then write 0,500 for 0.500. The Windows DLL's C runtime is
// not the one the host's JVM sets its locale in.
#pragma once

#ifndef _WIN32
#include <locale.h>

// Holds the C locale on the calling thread for its lifetime.
class CLocaleScope {
  public:
    CLocaleScope() : previous_(uselocale(cLocale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

  private:
    // Made once and kept for the life of the process. Should it not be
    // had, uselocale(0) changes nothing.
    static locale_t cLocale() {
        static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        return c;
    }
    locale_t previous_;
};
#else
// The DLL keeps the C locale of its own C runtime.
class CLocaleScope {
  public:
    CLocaleScope() {}
    ~CLocaleScope() {}
};
#endif
