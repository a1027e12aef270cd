// The dump of the current filter graph into the plug-in log.
#include "log.h"

#include "../player/player.h"

#include <cstring>

void logFilter(int index, IBaseFilter* filter) {
    char name[64] = "<UNKNOWN>";
    FILTER_INFO info;
    if (filter && SUCCEEDED(filter->QueryFilterInfo(&info))) {
        // Converted whole first: the conversion fails rather than cut when
        // its buffer is short.
        char full[MAX_FILTER_NAME * 2 + 1];
        int n = WideCharToMultiByte(CP_ACP, 0, info.achName, -1, full, sizeof full, nullptr,
                                    nullptr);
        if (n > 0) {
            size_t length = strnlen(full, sizeof name - 1);
            memcpy(name, full, length);
            name[length] = '\0';
        }
        if (info.pGraph)
            info.pGraph->Release();
    }
    logMessage("logFilter", "FILTER %d: %s", index, name);
}

void logGraph() {
    if (!pGraphBuilder)
        return;
    logMessage("logGraph", "################################################################");
    logMessage("logGraph", "##                      Filter Graph                          ##");
    logMessage("logGraph", "################################################################");
    IEnumFilters* filters = nullptr;
    HRESULT hr = pGraphBuilder->EnumFilters(&filters);
    if (FAILED(hr) || !filters) {
        logError(hr, "logGraph", "Could not get filter enumerator from graph builder.");
        return;
    }
    filters->Reset();
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    int index = 1;
    while (filters->Next(1, &filter, &fetched) == S_OK && filter) {
        logFilter(index++, filter);
        filter->Release();
        filter = nullptr;
    }
    filters->Release();
}
