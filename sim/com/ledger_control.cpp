// The ledger as tests and tools query it.
#include "../control.h"
#include "runtime.h"

#include <sstream>

namespace simctl {

std::vector<LiveObject> liveObjects() {
    std::vector<LiveObject> out;
    for (const sim::LedgerEntry& entry : sim::ledgerEntries())
        out.push_back({entry.className, entry.refs});
    return out;
}

int liveCount(const std::string& className) {
    int n = 0;
    for (const sim::LedgerEntry& entry : sim::ledgerEntries())
        if (entry.className == className)
            n++;
    return n;
}

std::string describeLiveObjects() {
    std::ostringstream out;
    for (const sim::LedgerEntry& entry : sim::ledgerEntries())
        out << entry.className << " refs=" << entry.refs << "\n";
    return out.str();
}

long objectsCreated() {
    return sim::objectsCreated();
}

} // namespace simctl
