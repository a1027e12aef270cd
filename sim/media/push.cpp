// What the push graph's source tells of its file: the stream it holds,
// re-read as it grows while the source holds the host's lock object (the
// file is still being written), and its bytes as far as they are written,
// which the demultiplexer delivers downstream (card/demux.cpp).
#include "../card/stream_filters.h"
#include "stream.h"

namespace sim {

HRESULT SharedSourceFilter::GetMediaInfo(MediaInfo* info) {
    if (!info)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(probeMutex_);
    if (file_.empty())
        return VFW_E_NOT_CONNECTED;
    if (probe_.path() != file_)
        probe_.setPath(file_);
    // The probe re-reads whenever the file's size changed, so a file still
    // being written shows each new stretch as it lands.
    *info = probe_.info();
    return S_OK;
}

HRESULT SharedSourceFilter::Written(LONGLONG* size, BOOL* growing) {
    if (!size || !growing)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(probeMutex_);
    if (file_.empty())
        return VFW_E_NOT_CONNECTED;
    *growing = lock_ != nullptr;
    long long now = fileSizeNow(file_);
    *size = now > 0 ? now : 0;
    return S_OK;
}

HRESULT SharedSourceFilter::ReadWritten(LONGLONG offset, LONG limit, std::vector<uint8_t>* bytes) {
    if (!bytes)
        return E_POINTER;
    std::string file;
    {
        std::lock_guard<std::mutex> lock(probeMutex_);
        file = file_;
    }
    if (file.empty())
        return VFW_E_NOT_CONNECTED;
    if (offset < 0 || limit < 0)
        return E_INVALIDARG;
    return appendFileBytes(file, offset, static_cast<size_t>(limit), bytes) ? S_OK : E_FAIL;
}

HRESULT DemuxFilter::GetMediaInfo(MediaInfo* info) {
    return upstreamMediaInfo(pinAt(kDemuxInput), info);
}

} // namespace sim
