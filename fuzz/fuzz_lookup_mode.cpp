// lookupWidthAndHeight with any mode number and any profile description:
// through the simulated card's profile (INI text round the description), or
// through a profile double that writes any bytes into the library's buffer,
// filling it whole without a terminator if it likes, as a misbehaving card
// might.
#include "fuzz_input.h"

#include "sim/control_card.h"
#include "src/card/modes.h"

#include <string>

namespace {

class ProfileDouble : public IREALmagicProfile {
  public:
    std::string answer;
    bool terminate = true;
    std::string askedKey;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReadProfileString(const char*, const char* key, const char*,
                                                char* buffer, int bufferSize) override {
        askedKey = key ? key : "(null)";
        if (!buffer || bufferSize <= 0)
            return E_POINTER;
        size_t n = answer.size() < static_cast<size_t>(bufferSize)
                       ? answer.size()
                       : static_cast<size_t>(bufferSize);
        memcpy(buffer, answer.data(), n);
        if (terminate && n < static_cast<size_t>(bufferSize))
            buffer[n] = '\0';
        return S_OK;
    }
};

ProfileDouble gDouble;
IREALmagicProfile* gSimulated = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    CoInitialize(nullptr);
    getDecoderInterfaces();
    gSimulated = pRmProfile;
    if (!gSimulated)
        fuzzinput::fail("the simulated card has no profile");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::Input in(data, size);
    const uint8_t how = in.byte();
    const int mode = (how & 0x80) ? in.i32() : static_cast<int>(in.byte()) - 8;
    const char* section = (how & 1) ? "HDTV" : "Progressive";
    std::string description = in.rest();

    const bool simulated = how & 2;
    if (simulated) {
        simcard::setProfileText(std::string("[") + section + "]\nmode" + std::to_string(mode) +
                                "=" + description + "\n");
        pRmProfile = gSimulated;
    } else {
        gDouble.answer = description;
        gDouble.terminate = how & 4;
        pRmProfile = &gDouble;
    }
    int width = -7;
    int height = -9;
    lookupWidthAndHeight(mode, section, &width, &height);
    if (!simulated) {
        // The key names the mode whole, whatever its number.
        fuzzinput::check(gDouble.askedKey == "mode" + std::to_string(mode), "the profile key");
    }
    // A description that is not "name width height" leaves the size alone;
    // none with fewer than five characters can be one.
    if (description.size() < 5)
        fuzzinput::check(width == -7 && height == -9, "a size from a short description");
    pRmProfile = gSimulated;
    return 0;
}
