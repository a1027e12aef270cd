// AMGetErrorTextA: a readable text for the DirectShow and COM result codes
// the library meets.
#include "runtime.h"

#include <cstdio>
#include <cstring>

namespace {

struct ErrorText {
    HRESULT hr;
    const char* text;
};

const ErrorText kTexts[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "The operation completed but answered false."},
    {E_NOTIMPL, "The method is not implemented."},
    {E_NOINTERFACE, "No such interface is supported."},
    {E_POINTER, "A required pointer argument is null."},
    {E_ABORT, "The operation was aborted."},
    {E_FAIL, "Unspecified error."},
    {E_UNEXPECTED, "A catastrophic failure occurred."},
    {E_ACCESSDENIED, "Access is denied."},
    {E_HANDLE, "The handle is invalid."},
    {E_OUTOFMEMORY, "There is not enough memory to complete the operation."},
    {E_INVALIDARG, "An argument is invalid."},
    {CLASS_E_NOAGGREGATION, "The class does not support aggregation."},
    {CLASS_E_CLASSNOTAVAILABLE, "The class factory cannot supply the requested class."},
    {REGDB_E_CLASSNOTREG, "The class is not registered."},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called on this thread."},
    {RPC_E_CHANGED_MODE, "COM was already initialised on this thread in another mode."},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified."},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "The system cannot find the path specified."},
    {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION),
     "The file is in use by another process and cannot be opened."},
    {VFW_E_INVALIDMEDIATYPE, "The specified media type is invalid."},
    {VFW_E_INVALIDSUBTYPE, "The specified media subtype is invalid."},
    {VFW_E_NEED_OWNER, "This object can only be created as an aggregated object."},
    {VFW_E_ENUM_OUT_OF_SYNC, "The state of the enumerated object has changed and is now "
                             "inconsistent with the state of the enumerator."},
    {VFW_E_ALREADY_CONNECTED, "At least one of the pins involved in the operation is already "
                              "connected."},
    {VFW_E_FILTER_ACTIVE, "The operation cannot be performed because the filter is active."},
    {VFW_E_NO_TYPES, "One of the pins has no media types to offer."},
    {VFW_E_NO_ACCEPTABLE_TYPES, "There is no common media type between these pins."},
    {VFW_E_INVALID_DIRECTION, "Two pins of the same direction cannot be connected together."},
    {VFW_E_NOT_CONNECTED, "The operation cannot be performed because the pins are not "
                          "connected."},
    {VFW_E_NO_ALLOCATOR, "No sample buffer allocator is available."},
    {VFW_E_RUNTIME_ERROR, "A run-time error occurred."},
    {VFW_E_NOT_COMMITTED, "Cannot allocate a sample when the allocator is not active."},
    {VFW_E_NO_CLOCK, "No reference clock has been defined."},
    {VFW_E_NO_SINK, "No event sink has been set up."},
    {VFW_E_NO_INTERFACE, "The required interface has not been implemented."},
    {VFW_E_NOT_FOUND, "An object or name was not found."},
    {VFW_E_CANNOT_CONNECT, "No combination of intermediate filters could be found to make the "
                           "connection."},
    {VFW_E_CANNOT_RENDER, "No combination of filters could be found to render the stream."},
    {VFW_E_CHANGING_FORMAT, "Could not change formats dynamically."},
    {VFW_E_STATE_CHANGED, "The state changed while the operation was in progress."},
    {VFW_E_NOT_STOPPED, "The operation cannot be performed because the filter is not "
                        "stopped."},
    {VFW_E_NOT_PAUSED, "The operation cannot be performed because the filter is not paused."},
    {VFW_E_NOT_RUNNING, "The operation cannot be performed because the filter is not running."},
    {VFW_E_WRONG_STATE, "The operation cannot be performed because the filter is in the wrong "
                        "state."},
    {VFW_E_START_TIME_AFTER_END, "The sample start time is after the sample end time."},
    {VFW_E_INVALID_RECT, "The supplied rectangle is invalid."},
    {VFW_E_TYPE_NOT_ACCEPTED, "This pin cannot use the supplied media type."},
    {VFW_E_SAMPLE_REJECTED, "This sample cannot be rendered."},
    {VFW_E_SAMPLE_REJECTED_EOS, "This sample cannot be rendered because the end of the stream "
                                "has been reached."},
    {VFW_E_DUPLICATE_NAME, "An attempt to add a filter with a duplicate name failed."},
    {VFW_S_DUPLICATE_NAME, "The filter was added with a modified name because its name was "
                           "already in use."},
    {VFW_E_TIMEOUT, "A time-out has expired."},
    {VFW_E_INVALID_FILE_FORMAT, "The file format is invalid."},
    {VFW_E_ENUM_OUT_OF_RANGE, "The list has already been exhausted."},
    {VFW_E_CIRCULAR_GRAPH, "The filter graph is circular."},
    {VFW_S_STATE_INTERMEDIATE, "The state transition has not completed."},
    {VFW_E_UNKNOWN_FILE_TYPE, "The media type of this file is not recognized."},
    {VFW_E_CANNOT_LOAD_SOURCE_FILTER, "The source filter for this file could not be loaded."},
    {VFW_S_PARTIAL_RENDER, "Some of the streams in this movie are in an unsupported format."},
    {VFW_E_FILE_TOO_SHORT, "A file appeared to be incomplete."},
    {VFW_E_INVALID_FILE_VERSION, "The version number of the file is invalid."},
    {VFW_S_SOME_DATA_IGNORED, "The file contained some property settings that were not used."},
    {VFW_E_INVALID_CLSID, "This file is corrupt: it contains an invalid class identifier."},
    {VFW_E_INVALID_MEDIA_TYPE, "This file is corrupt: it contains an invalid media type."},
    {VFW_E_SAMPLE_TIME_NOT_SET, "No time stamp has been set for this sample."},
    {VFW_E_MEDIA_TIME_NOT_SET, "No media time stamp has been set for this sample."},
    {VFW_E_NO_TIME_FORMAT_SET, "No media time format has been selected."},
    {VFW_E_NO_DECOMPRESSOR, "Cannot play back the video stream: no suitable decompressor "
                            "could be found."},
    {VFW_E_NO_AUDIO_HARDWARE, "Cannot play back the audio stream: no audio hardware is "
                              "available."},
    {VFW_S_VIDEO_NOT_RENDERED, "Cannot play back the video stream: no suitable decompressor "
                               "could be found."},
    {VFW_S_AUDIO_NOT_RENDERED, "Cannot play back the audio stream: no audio hardware is "
                               "available, or the hardware is not responding."},
    {VFW_E_UNSUPPORTED_AUDIO, "Cannot play back the audio stream: the audio format is not "
                              "supported."},
    {VFW_E_UNSUPPORTED_VIDEO, "Cannot play back the video stream: the video format is not "
                              "supported."},
    {VFW_E_NOT_IN_GRAPH, "Cannot perform the requested function on an object that is not in "
                         "the filter graph."},
    {VFW_E_NO_TIME_FORMAT, "Cannot get or set time related information on an object that is "
                           "using a time format of TIME_FORMAT_NONE."},
    {VFW_E_READ_ONLY, "The connection cannot be made because the stream is read only and the "
                      "filter alters the data."},
    {VFW_E_BUFFER_UNDERFLOW, "The buffer is not full enough."},
    {VFW_E_UNSUPPORTED_STREAM, "Cannot play back the file: the format is not supported."},
    {VFW_E_NO_TRANSPORT, "Pins cannot connect because they don't support the same transport."},
};

} // namespace

extern "C" DWORD AMGetErrorTextA(HRESULT hr, char* buffer, DWORD maxLen) {
    if (!buffer || maxLen == 0)
        return 0;
    for (const ErrorText& entry : kTexts) {
        if (entry.hr == hr) {
            size_t n = strlen(entry.text);
            if (n >= maxLen)
                n = maxLen - 1;
            memcpy(buffer, entry.text, n);
            buffer[n] = '\0';
            return static_cast<DWORD>(n);
        }
    }
    return 0;
}
