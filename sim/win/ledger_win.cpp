// The objects alive in tovixsim.dll, each from construction to destruction
// with its one reference count. The lock is recursive so that the renderer
// ticker can take a reference of its own while it walks the objects.
#include "server.h"

#include <mutex>
#include <vector>

namespace {

std::recursive_mutex& ledgerMutex() {
    static std::recursive_mutex m;
    return m;
}

std::vector<sim::ComObject*>& ledger() {
    static std::vector<sim::ComObject*> objects;
    return objects;
}

} // namespace

namespace sim {

ComObject::ComObject(const char* className) : className_(className) {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    ledger().push_back(this);
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

ULONG ComObject::addRef() {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    return ++refs_;
}

ULONG ComObject::release() {
    ULONG left;
    {
        std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
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

namespace simwin {

long liveObjectCount() {
    std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
    return static_cast<long>(ledger().size());
}

void forEachLive(const char* className, const std::function<void(sim::ComObject*)>& visit) {
    std::vector<sim::ComObject*> held;
    {
        std::lock_guard<std::recursive_mutex> lock(ledgerMutex());
        for (sim::ComObject* object : ledger()) {
            // An object whose count reached zero is being destroyed on
            // another thread; it is not to be touched.
            if (object->refCount() > 0 && std::string(object->className()) == className) {
                object->addRef();
                held.push_back(object);
            }
        }
    }
    for (sim::ComObject* object : held) {
        visit(object);
        object->release();
    }
}

} // namespace simwin
