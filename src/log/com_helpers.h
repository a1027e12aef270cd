// Small helpers for the COM calls every subsystem makes.
#pragma once

#include "../platform/platform.h"

#include <cstddef>

// A creation or query that "succeeds" without handing out a pointer is as
// useless as one that failed. The pointer is read through the reference
// only once the call that fills it has returned.
template <typename T> HRESULT obtained(HRESULT hr, T* const& pointer) {
    if (FAILED(hr))
        return hr;
    return pointer ? hr : E_POINTER;
}

// The code to report for a failed creation or query.
inline HRESULT failureCode(HRESULT hr) {
    return FAILED(hr) ? hr : E_POINTER;
}

template <typename T> void releaseAndClear(T*& pointer) {
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

// A wide name (a filter's, at most MAX_FILTER_NAME characters) into the ANSI
// code page, cut to fit `size` bytes. `out` keeps what it held when the name
// cannot be converted.
void ansiName(const WCHAR* wide, char* out, size_t size);
