// Reading a fuzzer's bytes as the values a target needs. Every read is
// defined for any input: past the end, numbers read as 0 and texts as empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzzinput {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t left() const { return size_ - pos_; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++)
            v |= static_cast<uint32_t>(byte()) << (8 * i);
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }

    // A text of up to `max` bytes: a length byte pair, then that many bytes
    // (any bytes, zero bytes included; what a C string sees ends at the
    // first zero, as it does for the JVM's modified UTF-8).
    std::string text(size_t max) {
        size_t length = u16() % (max + 1);
        if (length > left())
            length = left();
        std::string s(reinterpret_cast<const char*>(data_ + pos_), length);
        pos_ += length;
        return s;
    }

    // The rest of the input.
    std::string rest() {
        std::string s(reinterpret_cast<const char*>(data_ + pos_), left());
        pos_ = size_;
        return s;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A finding the sanitizers cannot see (a broken contract): report and stop,
// so that libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what) {
    fprintf(stderr, "fuzz finding: %s\n", what);
    abort();
}

inline void check(bool ok, const char* what) {
    if (!ok)
        fail(what);
}

} // namespace fuzzinput
