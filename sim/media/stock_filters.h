// Stand-ins for the filters every Windows machine has besides the graph
// manager, registered with the world's filter mapper at the merits Windows
// gives them, so that RenderFile builds what Windows builds around the
// card's decoder:
//   "MPEG-1 Stream Splitter" (media/mpeg1_splitter.cpp), MERIT_NORMAL: an
//     MPEG-1 system stream from a reader into its first video and first
//     MPEG audio stream; the card's demultiplexer, registered above it for
//     the same streams, wins while it is there;
//   "MPEG Audio Decoder" (media/audio_decoder.cpp), MERIT_NORMAL: MPEG-1
//     audio (layers I and II) into PCM;
//   "Default DirectSound Device" (media/audio_renderer.cpp), MERIT_PREFERRED:
//     the audio renderer for PCM, with the reference clock of the sound
//     device.
// They decode nothing: a sample passes through with its size and times,
// and only the media types and the connections taken or refused are
// Windows's. tovixsim.dll registers none of them: under Wine the system's
// own serve.
#pragma once

#include "../com/runtime.h"

namespace sim {

extern const CLSID CLSID_MPEG1Splitter;
extern const CLSID CLSID_CMpegAudioCodec;
extern const CLSID CLSID_DSoundRender;

} // namespace sim
