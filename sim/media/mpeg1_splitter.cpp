// The system's MPEG-1 stream splitter: an MPEG-1 system stream, pulled from
// a reader, split into its first video and first MPEG audio stream (pins
// "Video" and "Audio"), each output answering IMediaSeeking. It parses and
// delivers exactly as the card's demultiplexer does over a reader, so it is
// that filter with the system's identity and the system splitter's narrower
// choice of streams (card/stream_filters.h). Registered at MERIT_NORMAL for
// MPEG-1 system streams, below the card's demultiplexer: graph building
// takes it only where the card's software is missing or refuses the file.
#include "../card/stream_filters.h"
#include "stock_filters.h"

namespace sim {

const CLSID CLSID_MPEG1Splitter = {
    0x336475D0, 0x942A, 0x11CE, {0xA8, 0x70, 0x00, 0xAA, 0x00, 0x2F, 0xEA, 0xB5}};

namespace {

const char kClassName[] = "Mpeg1Splitter";

class Mpeg1Splitter final : public DemuxFilter {
  public:
    Mpeg1Splitter() : DemuxFilter(kClassName, CLSID_MPEG1Splitter, true) {}
};

ClassRegistrar gClass(CLSID_MPEG1Splitter, kClassName, createObject<Mpeg1Splitter>);
FilterRegistrar gFilter({CLSID_MPEG1Splitter,
                         "MPEG-1 Stream Splitter",
                         kMeritNormal,
                         {{MEDIATYPE_Stream, MEDIASUBTYPE_MPEG1System}}});

} // namespace

} // namespace sim
