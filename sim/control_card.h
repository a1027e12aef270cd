// Control of the simulated decoder card for tests, tools, the demo and the
// host's JNI shim: the output registers, the profile, the OSD layer as the
// screen shows it, and what the push graph's filters were told.
//
// Everything here is a plain function over simple values so that a small
// JNI shim can pass it on unchanged.
//
// The card's fault points (armed through simctl::armFault and armNull):
//   "CoCreateInstance:DecoderFilter", "CoCreateInstance:OsdEnumerator",
//   "CoCreateInstance:SharedSource", "CoCreateInstance:MpegDemux"
//   "QueryInterface:DecoderFilter:ITvVgaOutput3" (IAudioOutput,
//   IREALmagicProfile, ...)
//   "DecoderFilter::GetOutputFlags", "DecoderFilter::SetOutputFlags" and the
//   same for Aspect, HdMode, VgaMode, AudioOutput; "DecoderFilter::ReadProfileString"
//   "OsdEnumerator::Reset", "OsdEnumerator::Next" (fires: no object)
//   "OsdObject::GetBlockBuffer" (fires: null stored), "OsdObject::Close",
//   "OsdObject::SetDisplay", "OsdObject::SetDestination"
//   "SharedSource::Load", "SharedSource::SetFileLock", "SharedSource::SetHostName"
// and those of every filter listed in base/filter.h.
#pragma once

#include "../src/platform/com.h"

#include <cstdint>
#include <string>
#include <vector>

#define TOVIX_CARD_CONTROL __attribute__((visibility("default")))

namespace simcard {

// ---- Output registers -------------------------------------------------------
// The card keeps them across decoder filter instances, as the hardware does.
struct Registers {
    int outputFlags;
    int aspect;
    int hdMode;
    int vgaMode;
    int audioOutput;
};
// What the card holds at power-on: TV output, NTSC, composite (0x01), as-is
// aspect, HD and VGA mode 0, stereo.
TOVIX_CARD_CONTROL Registers startRegisters();
TOVIX_CARD_CONTROL Registers registers();
// Sets what the card holds without counting writes.
TOVIX_CARD_CONTROL void setRegisters(const Registers& values);
// Writes made through the decoder filter's interfaces, per register.
TOVIX_CARD_CONTROL Registers registerWrites();
// Reads likewise.
TOVIX_CARD_CONTROL Registers registerReads();
TOVIX_CARD_CONTROL void resetRegisterCounts();

// ---- Profile ----------------------------------------------------------------
// The profile is INI text: "[HDTV]" and "[Progressive]" sections of
// "modeN=name width height". Precedence: the text set here, else the file
// named by TOVIX_SIM_PROFILE, else the built-in table.
TOVIX_CARD_CONTROL void setProfileText(const std::string& iniText);
TOVIX_CARD_CONTROL void clearProfileText();
TOVIX_CARD_CONTROL std::string builtinProfile();
// The value of a key as the card's profile interface answers it; false when
// the profile does not hold it.
TOVIX_CARD_CONTROL bool profileValue(const std::string& section, const std::string& key,
                                     std::string* value);

// ---- OSD --------------------------------------------------------------------
// How many OSD objects the enumerator hands out (1 by default).
TOVIX_CARD_CONTROL void setOsdObjectCount(int count);
// The OSD object's name, as method 6 answers it.
TOVIX_CARD_CONTROL std::string osdName();
// Block buffers requested from any OSD object, and the last size asked.
TOVIX_CARD_CONTROL int blockBufferRequests();
TOVIX_CARD_CONTROL unsigned lastBlockBufferSize();
// The display switch as last set.
TOVIX_CARD_CONTROL bool osdDisplayOn();
// Blocks shown and rejected since the last reset.
TOVIX_CARD_CONTROL int blocksShown();
TOVIX_CARD_CONTROL int blocksRejected();
// Header of the last block switched on (valid or not): type, length, width,
// height as the bytes say.
struct BlockHeader {
    int type;
    int length;
    int width;
    int height;
};
TOVIX_CARD_CONTROL BlockHeader lastBlockHeader();
// The rectangle last given to the OSD object.
TOVIX_CARD_CONTROL RECT osdDestination();
// What the OSD layer shows: the last accepted block composed into its
// rectangle, one 0xAARRGGBB value per pixel, row after row. Empty before the
// first block. It stays composed while the display is off; osdDisplayOn()
// tells whether it is visible.
TOVIX_CARD_CONTROL int osdWidth();
TOVIX_CARD_CONTROL int osdHeight();
TOVIX_CARD_CONTROL std::vector<uint32_t> osdPixels();
TOVIX_CARD_CONTROL uint32_t osdPixel(int x, int y); // 0 outside the screen
// The last accepted block at its own size (lastBlockHeader's width and
// height), before it was scaled to its rectangle.
TOVIX_CARD_CONTROL std::vector<uint32_t> osdBlockPixels();
// PNG snapshots of every accepted block: into this folder when set (empty:
// the folder named by TOVIX_SIM_SNAPSHOTS, else none), as osd_0001.png, ...
TOVIX_CARD_CONTROL void setSnapshotFolder(const std::string& folder);
TOVIX_CARD_CONTROL int snapshotsWritten();
// Writes the current screen as PNG; false when it cannot.
TOVIX_CARD_CONTROL bool writeOsdPng(const std::string& path);

// ---- The screen (Linux builds; tovixsim.dll composes none) --------------------
// What the card's output shows now, composed on request: the raster of the
// output mode the registers name (TV: 720x480, or 720x576 for PAL; HDTV and
// VGA: the mode's size in the profile), the video picture at the newest
// decoder's position scaled into its destination (the whole screen, shaped
// by the aspect register, while the destination is the default one), and
// the OSD layer alpha-blended at its rectangle while the display is on.
// Where there is no picture, the video area shows a test pattern with the
// reason written on it. The picture is decoded from the file the decoder's
// stream comes from, only here; playing costs nothing for it.
struct Screen {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels; // 0xAARRGGBB, alpha 255, row after row
    std::string mode;             // "TV NTSC 720x480", "HDTV mode 4 (1080i) 1920x1080", ...
    RECT videoArea{};             // left, top, right, bottom; may reach past the screen
    bool picture = false;         // a decoded picture fills the video area
    std::string note;             // why there is no picture; empty when there is
    std::string file;             // what the decoder plays (UTF-8); empty when nothing
    double position = -1;         // the decoder's position in seconds; -1 without a stream
    double pictureTime = -1;      // seconds into the stream of the picture shown
};
TOVIX_CARD_CONTROL Screen screen();
// Composes the screen and writes it as PNG; `shown` (if given) receives it.
// False when the file cannot be written.
TOVIX_CARD_CONTROL bool writeScreenPng(const std::string& path, Screen* shown = nullptr);

// ---- Push graph filters -------------------------------------------------------
// What the most recent shared-source filter was told.
struct SharedSourceRecord {
    int loadCalls;
    std::string file; // UTF-8
    bool loadHadMediaType;
    int lockCalls;    // shared-async method 1
    const void* lock; // its last argument
    int hostCalls;    // shared-async method 3
    std::string host; // its last argument ("" for null)
    bool hostWasNull;
};
TOVIX_CARD_CONTROL SharedSourceRecord sharedSource();

// ---- The decoder's clock ---------------------------------------------------------
// Whether the card's decoder offers the graph a reference clock is the
// card's design, and unknown, so the world has both:
//   DecoderClock::FollowsPresentation (at power-on): the decoder filter
//     answers IReferenceClock, the graph picks it, and it moves with what the
//     decoder presents, so it holds while the decoder's data has run out
//     (at the written end of a file still being written);
//   DecoderClock::None: the decoder has no clock; the graph uses the system
//     clock, which runs on whatever the decoder does.
// Decoder filters made after the call take the model. tovixsim.dll, which
// has no control API, takes it from the environment variable
// TOVIX_SIM_DECODER_CLOCK ("none" for None, anything else or unset for
// FollowsPresentation), read once, when COM first asks it for a class object.
enum class DecoderClock { FollowsPresentation, None };
TOVIX_CARD_CONTROL void setDecoderClock(DecoderClock model);
TOVIX_CARD_CONTROL DecoderClock decoderClock();

// Puts the card back as at power-on: registers, counters, the OSD layer, the
// profile override, the snapshot folder override, the OSD object count and
// the decoder's clock.
TOVIX_CARD_CONTROL void reset();

} // namespace simcard
