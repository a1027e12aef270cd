// What the graph manager's source files share and nothing else needs.
#pragma once

#include "manager.h"

namespace sim {

// The most recently created graph still alive (no reference), or null.
FilterGraph* currentGraph();

} // namespace sim

namespace sim {

// Forwarding of an interface method to the graph's members. "First" asks the
// first member (in enumeration order) that answers the interface; "all" asks
// every one and answers the first failure. `none` is the answer when no
// member has the interface.
template <class I, class Method, class... Args>
HRESULT forwardToFirst(const FilterGraph* graph, REFIID iid, HRESULT none, Method method,
                       Args... args) {
    I* target = static_cast<I*>(graph->firstMemberWith(iid));
    if (!target)
        return none;
    HRESULT hr = (target->*method)(args...);
    target->Release();
    return hr;
}

template <class I, class Method, class... Args>
HRESULT forwardToAll(const FilterGraph* graph, REFIID iid, HRESULT none, Method method,
                     Args... args) {
    std::vector<IUnknown*> targets = graph->membersWith(iid);
    if (targets.empty())
        return none;
    HRESULT result = S_OK;
    for (IUnknown* unknown : targets) {
        HRESULT hr = (static_cast<I*>(unknown)->*method)(args...);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
        unknown->Release();
    }
    return result;
}

} // namespace sim
