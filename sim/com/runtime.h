// The simulated COM runtime as its components see it: the base of every
// simulated COM object (one reference count, recorded in the ledger from
// construction to destruction), the class registry and the fault points.
#pragma once

#include "../../src/platform/directshow.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sim {

// Base of every simulated COM object. A concrete class derives from its COM
// interfaces and from ComObject, forwards AddRef and Release here, and is
// destroyed through its virtual destructor when the count drops to zero.
class ComObject {
  public:
    explicit ComObject(const char* className);
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject();

    ULONG addRef();
    ULONG release();
    ULONG refCount() const { return refs_; }
    const char* className() const { return className_; }
    // Flags a call into the object once its server is gone (see
    // unloadServers); on Windows the call would crash.
    void checkServerLoaded(const char* call) const;

  private:
    friend void unloadServers();
    const char* className_;
    ULONG refs_ = 1; // the creator's reference
    // The thread whose COM apartment loaded the object's server, and
    // whether that thread's last CoUninitialize has unloaded it since.
    std::thread::id thread_;
    bool serverUnloaded_ = false;
};

// The calling thread's last CoUninitialize unloads the servers it loaded:
// every live object made on the thread is left without its code, and each
// later call into one is flagged (a trace line, and a count for
// simctl::callsIntoUnloadedServers).
void unloadServers();
long callsIntoUnloadedServers();

struct InterfaceEntry {
    const IID* iid;
    void* pointer; // the object cast to that interface
};

// The ledger: what is alive now, oldest first.
struct LedgerEntry {
    std::string className;
    ULONG refs;
};
std::vector<LedgerEntry> ledgerEntries();
long liveObjectCount();
// Objects made since the process (or DLL) started.
long objectsCreated();
// Calls `visit` for every live object of `className`, each held by a
// reference of its own for the length of the call.
void forEachLive(const char* className, const std::function<void(ComObject*)>& visit);

// QueryInterface as COM defines it, over a table of the object's interfaces:
// E_POINTER for a null out pointer, E_NOINTERFACE (and null) for an interface
// the table lacks, else the pointer with a new reference. Consults the fault
// point "QueryInterface:<class>:<interface>" first.
HRESULT queryInterface(ComObject* object, REFIID riid, void** ppv,
                       std::initializer_list<InterfaceEntry> table);

// The automation side of dual interfaces, not offered: every IDispatch
// method of the interfaces listed answers E_NOTIMPL.
template <class... Interfaces> class NoDispatch : public Interfaces... {
  public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count)
            *count = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }
};

// Registry of creatable classes, consulted by CoCreateInstance (and by
// DllGetClassObject in tovixsim.dll). Registrations made while the world
// loads are its built-in classes.
typedef HRESULT (*CreateFunction)(REFIID riid, void** ppv);
struct ClassEntry {
    CLSID clsid;
    std::string name;
    CreateFunction create;
};
void registerClass(REFCLSID clsid, const char* name, CreateFunction create);
// A test's stand-in for a class, never taken for a built-in one.
void replaceClass(REFCLSID clsid, const char* name, CreateFunction create);
void unregisterClass(REFCLSID clsid);
void restoreBuiltinClasses();
bool findClass(REFCLSID clsid, ClassEntry* found);
std::vector<ClassEntry> registeredClasses();

// Registers a class when the simulated runtime is loaded.
struct ClassRegistrar {
    ClassRegistrar(REFCLSID clsid, const char* name, CreateFunction create) {
        registerClass(clsid, name, create);
    }
};

// Filters registered with the filter mapper, as graph building finds them:
// by the types their input pin takes, the highest merit first. tovixsim.dll
// registers its own with the system's IFilterMapper2.
const DWORD kMeritPreferred = 0x800000;
const DWORD kMeritNormal = 0x600000;
const DWORD kMeritUnlikely = 0x400000;
const DWORD kMeritDoNotUse = 0x200000;
struct FilterRegistration {
    CLSID clsid;
    std::string name;
    DWORD merit;
    std::vector<std::pair<GUID, GUID>> inputTypes; // major and subtype
};
void registerFilter(const FilterRegistration& filter);
std::vector<FilterRegistration> registeredFilters();
struct FilterRegistrar {
    explicit FilterRegistrar(const FilterRegistration& filter) { registerFilter(filter); }
};

// Readable names for the GUIDs the world knows ("IBaseFilter",
// "FilterGraph"), or the GUID in registry form.
std::string guidName(REFGUID guid);
void nameGuid(REFGUID guid, const char* name);

// Fault points. Every call of fault() records `point` as reached and answers
// whether the point is armed for this call: `fail` with `hr` (which may be a
// success code such as VFW_S_PARTIAL_RENDER), and `null` when the call is to
// hand back a null pointer instead of an object. Calls that answer an
// HRESULT consult their point through faultFires; fault() itself is for the
// calls that hand back an object or nothing.
struct Fault {
    bool fail = false;
    bool null = false;
    HRESULT hr = S_OK;
};
Fault fault(const std::string& point);
// The one way an HRESULT call consults its point: true when the point is
// armed for this call, with the armed code in `hr`, which the call answers
// in place of its work (a success code too: RenderFile answering
// VFW_S_PARTIAL_RENDER).
bool faultFires(const std::string& point, HRESULT* hr);
// The point "<className>::<method>" of an object's method.
std::string faultPoint(const char* className, const char* method);

// The simulated world's own trace (rejected OSD blocks and the like), kept in
// memory for tests and echoed to stderr when TOVIX_SIM_TRACE is set.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Where a trace line goes besides stderr: the in-memory trace here, the
// debugger's output in tovixsim.dll.
void keepTraceLine(const char* line);

// The calling thread's Win32 last-error value.
void setLastError(DWORD error);

// UTF-16 code units (as WCHAR) to UTF-8 and back, for file names and logs.
std::string narrow(LPCWSTR wide);
std::wstring widen(const std::string& utf8);

} // namespace sim
