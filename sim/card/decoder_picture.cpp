// What the decoder's renderer side was last told, for simctl::renderer().
#include "decoder_picture.h"
#include "../control_graph.h"

#include <mutex>

namespace sim {

namespace {
std::mutex gRecordMutex;
simctl::RendererRecord gRecord;
} // namespace

void recordPicture(LONG volume, const RECT& destination) {
    std::lock_guard<std::mutex> lock(gRecordMutex);
    gRecord.volume = volume;
    gRecord.destLeft = destination.left;
    gRecord.destTop = destination.top;
    gRecord.destWidth = destination.right;
    gRecord.destHeight = destination.bottom;
}

void recordPlayback(double rate, double position) {
    std::lock_guard<std::mutex> lock(gRecordMutex);
    gRecord.rate = rate;
    gRecord.position = position;
}

void recordSample(long bytes) {
    std::lock_guard<std::mutex> lock(gRecordMutex);
    gRecord.samples++;
    gRecord.sampleBytes += bytes;
}

} // namespace sim

namespace simctl {

RendererRecord renderer() {
    std::lock_guard<std::mutex> lock(sim::gRecordMutex);
    return sim::gRecord;
}

} // namespace simctl
