// The shared-source filter: identity, pin, and the calls the library makes
// on it.
#include "stream_filters.h"

#include "state.h"

#include <cstring>
#include <mutex>

namespace sim {

const char kSharedSourceClassName[] = "SharedSource";

namespace {

std::mutex gMutex;
simcard::SharedSourceRecord gRecord{};

ClassRegistrar gSourceRegistrar(CLSID_SharedSource, kSharedSourceClassName,
                                createObject<SharedSourceFilter>);

} // namespace

SharedSourceFilter::SharedSourceFilter() : BaseFilter(kSharedSourceClassName, CLSID_SharedSource) {
    addPin(L"Output", PINDIR_OUTPUT, {makeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM)});
    std::lock_guard<std::mutex> lock(gMutex);
    gRecord = simcard::SharedSourceRecord{};
}

SharedSourceFilter::~SharedSourceFilter() = default;

void* SharedSourceFilter::extraInterface(REFIID riid) {
    if (riid == IID_IFileSourceFilter)
        return static_cast<IFileSourceFilter*>(this);
    if (riid == IID_ISharedAsync)
        return static_cast<ISharedAsync*>(this);
    if (riid == IID_ISimMediaInfo)
        return static_cast<ISimMediaInfo*>(this);
    if (riid == IID_ISimWrittenFile)
        return static_cast<ISimWrittenFile*>(this);
    return nullptr;
}

HRESULT SharedSourceFilter::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) {
    if (!fileName)
        return E_POINTER;
    HRESULT armed = S_OK;
    bool fired = faultFires(faultPoint(className(), "Load"), &armed);
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gRecord.loadCalls++;
        gRecord.file = narrow(fileName);
        gRecord.loadHadMediaType = mt != nullptr;
    }
    if (fired)
        return armed;
    wideFile_ = fileName;
    std::lock_guard<std::mutex> lock(probeMutex_);
    file_ = narrow(fileName);
    return S_OK;
}

HRESULT SharedSourceFilter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
    if (!fileName)
        return E_POINTER;
    *fileName = nullptr;
    if (mt)
        *mt = AM_MEDIA_TYPE{};
    if (wideFile_.empty())
        return S_OK;
    size_t bytes = (wideFile_.size() + 1) * sizeof(OLECHAR);
    *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*fileName)
        return E_OUTOFMEMORY;
    memcpy(*fileName, wideFile_.c_str(), bytes);
    if (mt)
        *mt = makeMediaType(MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_PROGRAM);
    return S_OK;
}

HRESULT SharedSourceFilter::SetFileLock(void* lock) {
    HRESULT armed = S_OK;
    bool fired = faultFires(faultPoint(className(), "SetFileLock"), &armed);
    {
        std::lock_guard<std::mutex> guard(gMutex);
        gRecord.lockCalls++;
        gRecord.lock = lock;
    }
    if (fired)
        return armed;
    {
        std::lock_guard<std::mutex> guard(probeMutex_);
        lock_ = lock;
    }
    wakeWaiters(); // the demultiplexer's threads, at the written end, look again
    return S_OK;
}

HRESULT SharedSourceFilter::SetHostName(const char* host) {
    HRESULT armed = S_OK;
    bool fired = faultFires(faultPoint(className(), "SetHostName"), &armed);
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gRecord.hostCalls++;
        gRecord.host = host ? host : "";
        gRecord.hostWasNull = host == nullptr;
    }
    if (fired)
        return armed;
    host_ = host ? host : "";
    return S_OK;
}

namespace card {
void resetStreamRecords() {
    std::lock_guard<std::mutex> lock(gMutex);
    gRecord = simcard::SharedSourceRecord{};
}
} // namespace card

} // namespace sim

namespace simcard {
SharedSourceRecord sharedSource() {
    std::lock_guard<std::mutex> lock(sim::gMutex);
    return sim::gRecord;
}
} // namespace simcard
