// The dump of the current filter graph into the plug-in log.
#include "player.h"

#include "../log/com_helpers.h"
#include "../log/log.h"

void logFilter(int index, IBaseFilter* filter) {
    char name[64] = "<UNKNOWN>";
    FILTER_INFO info;
    if (filter && SUCCEEDED(filter->QueryFilterInfo(&info))) {
        ansiName(info.achName, name, sizeof name);
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
