// Streaming of the push graph's filters: the shared source reads its file,
// re-reading it as it grows while it holds the host's lock object (the file
// is still being written), and the demultiplexer passes its input's stream
// on to the decoder.
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
    info->growing = lock_ != nullptr;
    return S_OK;
}

HRESULT DemuxFilter::GetMediaInfo(MediaInfo* info) {
    return upstreamMediaInfo(pinAt(kDemuxInput), info);
}

} // namespace sim
