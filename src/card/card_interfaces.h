// The decoder card's own COM interfaces, for every platform. Methods are
// numbered from 1 after QueryInterface, AddRef and Release; slots the library
// never calls are declared as placeholders so that method k sits at vtable
// slot k + 3, as the card's components expect.
#pragma once

#include "../platform/com.h"

// Decoder filter {4E3ABD41-458E-11D1-917E-00001B4F006F}, added to graphs as
// "Sigma Decoder". Pins: video in, audio in, overlay out.
static const CLSID CLSID_TovixDecoder = {
    0x4E3ABD41, 0x458E, 0x11D1, {0x91, 0x7E, 0x00, 0x00, 0x1B, 0x4F, 0x00, 0x6F}};
static const IID IID_ITvVgaOutput3 = {
    0x7425EEB6, 0xFE67, 0x4984, {0x87, 0x5D, 0x2B, 0x3D, 0x93, 0x9F, 0x87, 0x73}};
static const IID IID_IAudioOutput = {
    0xAEB23DA0, 0x54BB, 0x11D2, {0xBD, 0x98, 0x00, 0x80, 0xAD, 0xB6, 0x73, 0x01}};
static const IID IID_IREALmagicProfile = {
    0x4246FA00, 0x52E2, 0x11D2, {0xBD, 0x98, 0x00, 0x80, 0xAD, 0xB6, 0x73, 0x01}};
static const CLSID CLSID_OsdEnumerator = {
    0x8A29C1E7, 0xEDA5, 0x432D, {0xB7, 0x54, 0x5E, 0x6C, 0x10, 0xE2, 0xA5, 0x42}};
static const IID IID_IOsdEnumerator = {
    0x84B0A5BF, 0x18CF, 0x4B8E, {0x92, 0x71, 0x6D, 0x39, 0xB1, 0xF5, 0x0A, 0x46}};
static const CLSID CLSID_SharedSource = {
    0xC553F2C0, 0x1529, 0x11D0, {0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA}};
static const IID IID_ISharedAsync = {
    0x573D5172, 0xA718, 0x4840, {0x9E, 0x0D, 0x7F, 0xE8, 0x3D, 0x9E, 0xAA, 0x8F}};
static const CLSID CLSID_MpegDemux = {
    0xABD65DEA, 0x5701, 0x4F21, {0x86, 0x3B, 0x59, 0x1B, 0x05, 0x7D, 0x22, 0x68}};

// Output configuration of the decoder filter.
struct ITvVgaOutput3 : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetOutputFlags(int* flags) = 0; // 1
    virtual HRESULT STDMETHODCALLTYPE SetOutputFlags(int flags) = 0;  // 2
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;                // 3
    virtual HRESULT STDMETHODCALLTYPE GetAspect(int* aspect) = 0;     // 4
    virtual HRESULT STDMETHODCALLTYPE SetAspect(int aspect) = 0;      // 5
    virtual HRESULT STDMETHODCALLTYPE GetHdMode(int* mode) = 0;       // 6
    virtual HRESULT STDMETHODCALLTYPE SetHdMode(int mode) = 0;        // 7
    virtual HRESULT STDMETHODCALLTYPE GetVgaMode(int* mode) = 0;      // 8
    virtual HRESULT STDMETHODCALLTYPE SetVgaMode(int mode) = 0;       // 9

  protected:
    ~ITvVgaOutput3() = default;
};

// Audio output of the decoder filter: 0 stereo, 2 S/PDIF.
struct IAudioOutput : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetAudioOutput(int* output) = 0; // 1
    virtual HRESULT STDMETHODCALLTYPE SetAudioOutput(int output) = 0;  // 2

  protected:
    ~IAudioOutput() = default;
};

// The card's profile: INI-like sections of mode descriptions ("HDTV",
// "Progressive"), each value "name width height".
struct IREALmagicProfile : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0; // 1
    virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0; // 2
    // Named apart from the Win32 GetProfileString, which windows.h makes a
    // macro.
    virtual HRESULT STDMETHODCALLTYPE ReadProfileString(const char* section, const char* key,
                                                        const char* defaultValue, char* buffer,
                                                        int bufferSize) = 0; // 3

  protected:
    ~IREALmagicProfile() = default;
};

// One OSD layer of the card.
struct IOsdObject : IUnknown {
    // Stores the address of a block buffer of at least `size` bytes, or null
    // when none can be provided. The buffer stays owned by the OSD object.
    virtual HRESULT STDMETHODCALLTYPE GetBlockBuffer(unsigned int size, void** block) = 0; // 1
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                         // 2
    // The display switch: 1 shows the current block, 0 hides the layer.
    virtual HRESULT STDMETHODCALLTYPE SetDisplay(int on) = 0;        // 3
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;               // 4
    virtual HRESULT STDMETHODCALLTYPE SetDestination(RECT area) = 0; // 5
    virtual const char* STDMETHODCALLTYPE GetName() = 0;             // 6

  protected:
    ~IOsdObject() = default;
};

// Hands out the card's OSD objects one after another.
struct IOsdEnumerator : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0; // 1
    // The next OSD object with one reference for the caller, or null.
    virtual IOsdObject* STDMETHODCALLTYPE Next() = 0; // 2

  protected:
    ~IOsdEnumerator() = default;
};

// The shared-source filter's control of a file that may still be growing.
struct ISharedAsync : IUnknown {
    // The lock object of a file still being written, or null once it is not.
    virtual HRESULT STDMETHODCALLTYPE SetFileLock(void* lock) = 0;       // 1
    virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;                   // 2
    virtual HRESULT STDMETHODCALLTYPE SetHostName(const char* host) = 0; // 3

  protected:
    ~ISharedAsync() = default;
};
