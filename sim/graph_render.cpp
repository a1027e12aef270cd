// Placeholder: RenderFile lands with the media filters.
#include "graph_internal.h"

namespace sim {
HRESULT FilterGraph::renderFile(LPCWSTR) { return E_NOTIMPL; }
HRESULT FilterGraph::renderStream(IPin*, bool*) { return E_NOTIMPL; }
HRESULT FilterGraph::RenderFile(LPCWSTR file, LPCWSTR) { return renderFile(file); }
HRESULT FilterGraph::Render(IPin*) { return E_NOTIMPL; }
HRESULT FilterGraph::Connect(IPin* out, IPin* in) { return ConnectDirect(out, in, nullptr); }
HRESULT FilterGraph::AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter**) { return E_NOTIMPL; }
} // namespace sim
