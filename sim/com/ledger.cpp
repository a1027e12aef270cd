// The reference ledger: every simulated COM object from construction to
// destruction, with its current reference count. Shared by libtovixsim and
// tovixsim.dll. The lock is recursive so that a walk over the objects can
// take references of its own.
#include "runtime.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

std::recursive_mutex& ledgerMutex() {
    static std::recursive_mutex m;
    return m;
}

// Insertion order is kept so that reports list the oldest object first.
std::vector<sim::ComObject*>& ledger() {
    static std::vector<sim::ComObject*> objects;
    return objects;
}

long gObjectsCreated = 0;
long gCallsIntoUnloaded = 0;

} // namespace

namespace sim {

ComObject::ComObject(const char* className)
    : className_(className), thread_(std::this_thread::get_id()) {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    ledger().push_back(this);
    gObjectsCreated++;
}

ComObject::~ComObject() {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    auto& objects = ledger();
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        if (*it == this) {
            objects.erase(it);
            break;
        }
    }
}

void ComObject::checkServerLoaded(const char* call) const {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    if (!serverUnloaded_)
        return;
    gCallsIntoUnloaded++;
    trace("%s called on %s after CoUninitialize unloaded its server", call, className_);
}

void unloadServers() {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    for (ComObject* object : ledger())
        if (object->thread_ == std::this_thread::get_id())
            object->serverUnloaded_ = true;
}

long callsIntoUnloadedServers() {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    return gCallsIntoUnloaded;
}

ULONG ComObject::addRef() {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    checkServerLoaded("AddRef");
    return ++refs_;
}

ULONG ComObject::release() {
    ULONG left;
    {
        std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
        checkServerLoaded("Release");
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

std::vector<LedgerEntry> ledgerEntries() {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    std::vector<LedgerEntry> out;
    for (ComObject* object : ledger())
        out.push_back({object->className(), object->refCount()});
    return out;
}

long liveObjectCount() {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    return static_cast<long>(ledger().size());
}

long objectsCreated() {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    return gObjectsCreated;
}

void forEachLive(const char* className, const std::function<void(ComObject*)>& visit) {
    std::vector<ComObject*> held;
    {
        std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
        for (ComObject* object : ledger()) {
            // An object whose count reached zero is being destroyed on
            // another thread; it is not to be touched.
            if (object->refCount() > 0 && std::string(object->className()) == className) {
                object->addRef();
                held.push_back(object);
            }
        }
    }
    for (ComObject* object : held) {
        visit(object);
        object->release();
    }
}

} // namespace sim
