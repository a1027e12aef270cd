// The reference ledger: every simulated COM object from construction to
// destruction, with its current reference count.
#include "control.h"
#include "runtime.h"

#include <mutex>
#include <sstream>
#include <vector>

namespace {

std::mutex& ledgerMutex() {
    static std::mutex m;
    return m;
}

// Insertion order is kept so that reports list the oldest object first.
std::vector<sim::ComObject*>& ledger() {
    static std::vector<sim::ComObject*> objects;
    return objects;
}

long gObjectsCreated = 0;

} // namespace

namespace sim {

ComObject::ComObject(const char* className) : className_(className) {
    std::lock_guard<std::mutex> lock(ledgerMutex());
    ledger().push_back(this);
    gObjectsCreated++;
}

ComObject::~ComObject() {
    std::lock_guard<std::mutex> lock(ledgerMutex());
    auto& objects = ledger();
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        if (*it == this) {
            objects.erase(it);
            break;
        }
    }
}

ULONG ComObject::addRef() {
    std::lock_guard<std::mutex> lock(ledgerMutex());
    return ++refs_;
}

ULONG ComObject::release() {
    ULONG left;
    {
        std::lock_guard<std::mutex> lock(ledgerMutex());
        if (refs_ == 0) {
            trace("over-release of %s", className_);
            return 0;
        }
        left = --refs_;
    }
    if (left == 0)
        delete this;
    return left;
}

} // namespace sim

namespace simctl {

std::vector<LiveObject> liveObjects() {
    std::lock_guard<std::mutex> lock(ledgerMutex());
    std::vector<LiveObject> out;
    for (sim::ComObject* object : ledger())
        out.push_back({object->className(), object->refCount()});
    return out;
}

int liveCount(const std::string& className) {
    int n = 0;
    for (const LiveObject& object : liveObjects())
        if (object.className == className)
            n++;
    return n;
}

std::string describeLiveObjects() {
    std::ostringstream out;
    for (const LiveObject& object : liveObjects())
        out << object.className << " refs=" << object.refs << "\n";
    return out.str();
}

long objectsCreated() {
    std::lock_guard<std::mutex> lock(ledgerMutex());
    return gObjectsCreated;
}

} // namespace simctl
