// The video renderer that the decoder's overlay pin ends in when a graph is
// built around the decoder. It takes only the overlay: the world has no
// software MPEG decoder, so compressed video has nowhere else to go.
//
// In the simulated world it is the system's own Video Renderer. tovixsim.dll
// serves it under a class of its own and registers it with the system's
// filter mapper, because Wine's video renderer takes no overlay connection
// (Windows's does); the library takes it out of the graph again either way.
#include "../base/filter.h"

namespace sim {

namespace {

#ifdef _WIN32
const CLSID CLSID_OverlayRenderer = {
    0x6B1F7E23, 0x3C4D, 0x4A55, {0x9E, 0x61, 0x70, 0x82, 0x93, 0xA4, 0xB5, 0xC6}};
#else
const CLSID CLSID_OverlayRenderer = {
    0x70E102B0, 0x5556, 0x11CE, {0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
#endif

class VideoRendererFilter : public BaseFilter {
  public:
    VideoRendererFilter() : BaseFilter("VideoRenderer", CLSID_OverlayRenderer) {
        addPin(L"Input", PINDIR_INPUT, {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_Overlay)},
               {makeMediaType(MEDIATYPE_Video, MEDIASUBTYPE_Overlay)});
    }
};

ClassRegistrar gClass(CLSID_OverlayRenderer, "VideoRenderer", createObject<VideoRendererFilter>);
FilterRegistrar gFilter({CLSID_OverlayRenderer,
                         "Video Renderer",
                         kMeritUnlikely,
                         {{MEDIATYPE_Video, MEDIASUBTYPE_Overlay}}});

} // namespace

} // namespace sim
