// The file source behind RenderFile and AddSourceFilter.
#include "filters.h"

#include <cstring>

namespace sim {

namespace {

const CLSID CLSID_AsyncReader = {
    0xE436EBB5, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// A sample asked of the reader names its bytes by its time stamps, each
// offset counted as if it were seconds in 100 ns units.
const int64_t kUnitsPerByte = kUnitsPerSecond;

} // namespace

// ---- The file source's reader ------------------------------------------------------

FileReader::~FileReader() {
    for (auto& done : done_)
        done.first->Release();
    if (file_)
        fclose(file_);
}

HRESULT FileReader::QueryInterface(REFIID riid, void** ppv) {
    return source_->pinAt(0)->QueryInterface(riid, ppv);
}
ULONG FileReader::AddRef() {
    return source_->addRef();
}
ULONG FileReader::Release() {
    return source_->release();
}

bool FileReader::open(const std::string& path) {
    std::FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_)
        fclose(file_);
    file_ = file;
    fseek(file_, 0, SEEK_END);
    size_ = ftell(file_);
    return true;
}

HRESULT FileReader::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                     IMemAllocator** actual) {
    if (!props || !actual)
        return E_POINTER;
    IMemAllocator* allocator = preferred;
    if (allocator)
        allocator->AddRef();
    else
        allocator = new MemAllocator();
    ALLOCATOR_PROPERTIES got;
    HRESULT hr = allocator->SetProperties(props, &got);
    if (FAILED(hr)) {
        allocator->Release();
        *actual = nullptr;
        return hr;
    }
    *actual = allocator;
    return S_OK;
}

HRESULT FileReader::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
    if (!buffer)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_)
        return E_UNEXPECTED;
    if (position < 0 || position > size_ || length < 0)
        return E_INVALIDARG;
    fseek(file_, static_cast<long>(position), SEEK_SET);
    size_t got = fread(buffer, 1, static_cast<size_t>(length), file_);
    return got == static_cast<size_t>(length) ? S_OK : S_FALSE;
}

HRESULT FileReader::readInto(IMediaSample* sample) {
    REFERENCE_TIME start = 0, end = 0;
    HRESULT hr = sample->GetTime(&start, &end);
    if (FAILED(hr))
        return hr;
    LONGLONG position = start / kUnitsPerByte;
    LONG length = static_cast<LONG>(end / kUnitsPerByte - position);
    if (length > sample->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    hr = SyncRead(position, length, buffer);
    if (FAILED(hr))
        return hr;
    LONGLONG total = 0;
    Length(&total, nullptr);
    LONG got = static_cast<LONG>(position + length > total ? total - position : length);
    sample->SetActualDataLength(got);
    return hr;
}

HRESULT FileReader::Request(IMediaSample* sample, DWORD_PTR user) {
    if (!sample)
        return E_POINTER;
    HRESULT hr = readInto(sample);
    if (FAILED(hr))
        return hr;
    sample->AddRef();
    std::lock_guard<std::mutex> lock(mutex_);
    done_.emplace_back(sample, user);
    return S_OK;
}

HRESULT FileReader::WaitForNext(DWORD, IMediaSample** sample, DWORD_PTR* user) {
    if (!sample || !user)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *sample = nullptr;
    if (done_.empty())
        return VFW_E_TIMEOUT;
    *sample = done_.front().first; // the caller takes over our reference
    *user = done_.front().second;
    done_.pop_front();
    return S_OK;
}

HRESULT FileReader::SyncReadAligned(IMediaSample* sample) {
    if (!sample)
        return E_POINTER;
    return readInto(sample);
}

HRESULT FileReader::Length(LONGLONG* total, LONGLONG* available) {
    if (!total && !available)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_)
        return E_UNEXPECTED;
    if (total)
        *total = size_;
    if (available)
        *available = size_;
    return S_OK;
}

HRESULT FileReader::BeginFlush() {
    return S_OK;
}
HRESULT FileReader::EndFlush() {
    return S_OK;
}

// ---- The file source -------------------------------------------------------------------

FileSourceFilter::FileSourceFilter() : BaseFilter("FileSource", CLSID_AsyncReader), reader_(this) {
    addPin(L"Output", PINDIR_OUTPUT, {makeMediaType(MEDIATYPE_Stream, GUID_NULL_TYPE)});
}

void* FileSourceFilter::extraInterface(REFIID riid) {
    return riid == IID_IFileSourceFilter ? static_cast<IFileSourceFilter*>(this) : nullptr;
}

void* FileSourceFilter::pinInterface(BasePin* pin, REFIID riid) {
    if (pin == pinAt(0) && riid == IID_IAsyncReader && !file_.empty())
        return static_cast<IAsyncReader*>(&reader_);
    return nullptr;
}

HRESULT FileSourceFilter::Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*) {
    if (!fileName)
        return E_POINTER;
    HRESULT armed;
    if (faultFires(faultPoint(className(), "Load"), &armed))
        return armed;
    if (!file_.empty())
        return E_UNEXPECTED; // a source loads once
    bool found = false;
    MediaInfo info = probeFile(narrow(fileName), &found);
    if (!found || !reader_.open(narrow(fileName)))
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    file_ = fileName;
    info_ = info;
    BYTE head[16] = {};
    reader_.SyncRead(0, sizeof head, head);
    SystemLayer layer = leadingSystemLayer(head, sizeof head);
    const GUID& subtype = layer == SystemLayer::Mpeg1System    ? MEDIASUBTYPE_MPEG1System
                          : layer == SystemLayer::Mpeg2Program ? MEDIASUBTYPE_MPEG2_PROGRAM
                                                               : GUID_NULL_TYPE;
    pinAt(0)->setProposedTypes({makeMediaType(MEDIATYPE_Stream, subtype)});
    return S_OK;
}

HRESULT FileSourceFilter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
    if (!fileName)
        return E_POINTER;
    *fileName = nullptr;
    if (mt)
        *mt = AM_MEDIA_TYPE{};
    if (file_.empty())
        return S_OK;
    size_t bytes = (file_.size() + 1) * sizeof(OLECHAR);
    *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*fileName)
        return E_OUTOFMEMORY;
    memcpy(*fileName, file_.c_str(), bytes);
    if (mt)
        return copyMediaType(mt, &pinAt(0)->proposedTypes().front());
    return S_OK;
}

} // namespace sim
