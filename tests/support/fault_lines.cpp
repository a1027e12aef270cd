#include "fault_lines.h"

namespace testfaults {

const std::vector<FaultLine>& faultLines() {
    static const std::vector<FaultLine> lines = {
        // Opening the OSD and the card.
        {"CoCreateInstance:OsdEnumerator", 0, false,
         "<setupTovixOsd>: No OSD board found (ERROR: "},
        {"OsdEnumerator::Next", 0, false, "<setupTovixOsd>: No OSD available!"},
        {"CoCreateInstance:DecoderFilter", 0, false,
         "<buildGraph>: Cannot create decoder filter!!! (ERROR: "},
        {"CoCreateInstance:DecoderFilter", 0, false,
         "<buildGraph>: Can not add decoder filter because it is NULL"},
        {"QueryInterface:DecoderFilter:ITvVgaOutput3", 0, false,
         "<queryDecoderInterface>: Failed to create interface from sigma decoder: ITvVgaOutput3"},
        {"QueryInterface:DecoderFilter:IAudioOutput", 0, false,
         "<queryDecoderInterface>: Failed to create interface from sigma decoder: IAudioOutput"},
        {"QueryInterface:DecoderFilter:IREALmagicProfile", 0, false,
         "<queryDecoderInterface>: Failed to create interface from sigma decoder: "
         "IREALmagicProfile"},
        {"QueryInterface:DecoderFilter:IREALmagicProfile", 0, false,
         "<lookupWidthAndHeight>: no RM profiler.  Using default width and height."},
        {"DecoderFilter::ReadProfileString", 0, false,
         "<lookupWidthAndHeight>: Could not parse mode "},
        {"OsdObject::GetBlockBuffer", 0, false,
         "<processOsdImage>: Cannot update OSD because OSD surface is not available!!!"},

        // The set-up of the player.
        {"CoCreateInstance:FilterGraph", 1, false,
         "<buildGraph>: Could not create graph builder!!!! (ERROR: "},
        {"CoCreateInstance:SharedSource", 1, true,
         "<buildGraph>: Cannot create shared source filter!!! (ERROR: "},
        {"QueryInterface:SharedSource:ISharedAsync", 1, true,
         "<buildGraph>: Can not get shared source interface!! (ERROR: "},
        {"FilterGraph::AddFilter", 1, true,
         "<buildGraph>: Cannot add source filter to Graph!!! (ERROR: "},
        {"CoCreateInstance:MpegDemux", 1, true,
         "<buildGraph>: Cannot create demux filter!!! (ERROR: "},
        {"FilterGraph::AddFilter", 2, true,
         "<buildGraph>: Cannot add demux filter to Graph!!! (ERROR: "},
        {"FilterGraph::AddFilter", 3, true,
         "<buildGraph>: Cannot add sigma decoder filter to Graph!!! (ERROR: "},
        {"FilterGraph::AddFilter", 1, false,
         "<buildGraph>: Cannot add sigma decoder filter to Graph!!! (ERROR: "},
        {"QueryInterface:FilterGraph:IMediaPosition", 1, false,
         "<queryGraphInterface>: Failed to create interface from graph builder: IMediaPosition"},
        {"QueryInterface:FilterGraph:IMediaControl", 1, false,
         "<queryGraphInterface>: Failed to create interface from graph builder: IMediaControl"},
        {"QueryInterface:FilterGraph:IMediaControl", 0, false,
         "<play>: Can not play clip because media control interface is not available!!"},
        {"QueryInterface:FilterGraph:IMediaEventEx", 1, false,
         "<queryGraphInterface>: Failed to create interface from graph builder: IMediaEventEx"},
        {"QueryInterface:FilterGraph:IVideoWindow", 1, false,
         "<queryGraphInterface>: Failed to create interface from graph builder: IVideoWindow"},
        {"QueryInterface:FilterGraph:IMediaSeeking", 1, false,
         "<queryGraphInterface>: Failed to create interface from graph builder: IMediaSeeking"},
        {"QueryInterface:FilterGraph:IMediaSeeking", 1, false,
         "<getGraphInterfaces>: Could not load media seeking interface"},

        // Opening the file: the push graph's wiring, or the rendering.
        {"QueryInterface:SharedSource:IFileSourceFilter", 1, true,
         "<openFile>: Cannot get IFileSourceFilter interface!!! (ERROR: "},
        {"SharedSource::Load", 1, true, "<openFile>: Cannot load source file!!! (ERROR: "},
        {"SharedSource::EnumPins", 1, true, "<buildGraph>: Cannot find File Source pin 0!!!"},
        {"MpegDemux::EnumPins", 1, true, "<buildGraph>: Cannot find DeMux pin 0!!!"},
        {"FilterGraph::ConnectDirect", 1, true,
         "<buildGraph>: Cannot connect file source filter to demux filter!!! (ERROR: "},
        {"MpegDemux::EnumPins:pin", 7, true, "<buildGraph>: Cannot find demux pin 2!!!"},
        {"MpegDemux::EnumPins:pin", 12, true, "<buildGraph>: Cannot find demux pin 3!!!"},
        {"DecoderFilter::EnumPins", 1, true, "<buildGraph>: Cannot find decoder pin 0!!!"},
        {"DecoderFilter::EnumPins:pin", 5, true, "<buildGraph>: Cannot find decoder pin 1!!!"},
        {"FilterGraph::ConnectDirect", 2, true,
         "<buildGraph>: Cannot connect demux filter video out pin to decoder filter!!! (ERROR: "},
        {"FilterGraph::ConnectDirect", 3, true,
         "<buildGraph>: Cannot connect demux filter audio out pin to decoder filter!!! (ERROR: "},
        {"QueryInterface:FilterGraph:IBasicVideo2", 1, false,
         "<openFile>: Can not get basic video interface (ERROR: "},
        {"QueryInterface:FilterGraph:IBasicAudio", 1, false,
         "<openFile>: Can not get basic audio interface (ERROR: "},
        {"FilterGraph::RenderFile", 0, false,
         "<openFile>: Could not render file 'session_render.mpg' (ERROR: "},
        {"FilterGraph::EnumFilters", 0, false,
         "<logGraph>: Could not get filter enumerator from graph builder. (ERROR: "},

        // Playing, and the tear-down.
        {"FilterGraph::RemoveFilter", 0, false,
         "<releaseGraph>: Failed to remove filter from graph! (ERROR: "},
        {"DecoderFilter::GetDuration", 0, false,
         "<getDuration>: Could not determine clip duration!! (ERROR: "},
        // A running graph works out its position from its clock and asks
        // no filter, so the graph's own call is the one that fails.
        {"FilterGraph::get_CurrentPosition", 0, false,
         "<getCurrentPosition>: Could not determine current position in clip!! (ERROR: "},
        {"DecoderFilter::SetPositions", 0, false,
         "<setCurrentPosition>: Could not seek!! (ERROR: "},
        {"DecoderFilter::SetRate", 0, false,
         "<setRate>: Could not set new playrate!: 2.000 (ERROR: "},
        {"FilterGraph::get_Rate", 0, false,
         "<getRate>: Could not determine clip play rate!! (ERROR: "},
        {"DecoderFilter::SetDestinationPosition", 0, false,
         "<setDestination>: Failed to set destination location!! (ERROR: "},
    };
    return lines;
}

std::vector<std::string> linesWhenEveryCallFails(const std::string& point) {
    // Every call failing, the first one does: its line and the later ones'
    // (nth 0) are written, those of a failure further on are not.
    std::vector<std::string> texts;
    for (const FaultLine& f : faultLines())
        if (point == f.point && f.nth <= 1)
            texts.push_back(f.line);
    return texts;
}

} // namespace testfaults
