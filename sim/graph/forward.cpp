// IBasicAudio, IBasicVideo2 and IVideoWindow of the graph: forwarded to the
// filters that expose them. A volume or balance goes to every audio renderer;
// everything else to the first filter that answers. Without such a filter the
// calls answer as Windows does: E_NOTIMPL for the audio, E_NOINTERFACE for
// the video and the video window.
#include "internal.h"

namespace sim {

HRESULT FilterGraph::put_Volume(LONG volume) {
    return forwardToAll<IBasicAudio>(this, IID_IBasicAudio, E_NOTIMPL, &IBasicAudio::put_Volume,
                                     volume);
}

HRESULT FilterGraph::get_Volume(LONG* volume) {
    return forwardToFirst<IBasicAudio>(this, IID_IBasicAudio, E_NOTIMPL, &IBasicAudio::get_Volume,
                                       volume);
}

HRESULT FilterGraph::put_Balance(LONG balance) {
    return forwardToAll<IBasicAudio>(this, IID_IBasicAudio, E_NOTIMPL, &IBasicAudio::put_Balance,
                                     balance);
}

HRESULT FilterGraph::get_Balance(LONG* balance) {
    return forwardToFirst<IBasicAudio>(this, IID_IBasicAudio, E_NOTIMPL, &IBasicAudio::get_Balance,
                                       balance);
}

HRESULT FilterGraph::GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) {
    return forwardToFirst<IBasicVideo2>(this, IID_IBasicVideo2, E_NOINTERFACE,
                                        &IBasicVideo2::GetPreferredAspectRatio, aspectX, aspectY);
}

HRESULT FilterGraph::get_AvgTimePerFrame(REFTIME* time) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_AvgTimePerFrame, time);
}

HRESULT FilterGraph::get_BitRate(LONG* rate) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_BitRate, rate);
}

HRESULT FilterGraph::get_BitErrorRate(LONG* rate) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_BitErrorRate, rate);
}

HRESULT FilterGraph::get_VideoWidth(LONG* width) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_VideoWidth, width);
}

HRESULT FilterGraph::get_VideoHeight(LONG* height) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_VideoHeight, height);
}

HRESULT FilterGraph::put_SourceLeft(LONG v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::put_SourceLeft, v);
}

HRESULT FilterGraph::get_SourceLeft(LONG* v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_SourceLeft, v);
}

HRESULT FilterGraph::put_SourceWidth(LONG v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::put_SourceWidth, v);
}

HRESULT FilterGraph::get_SourceWidth(LONG* v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_SourceWidth, v);
}

HRESULT FilterGraph::put_SourceTop(LONG v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::put_SourceTop, v);
}

HRESULT FilterGraph::get_SourceTop(LONG* v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_SourceTop, v);
}

HRESULT FilterGraph::put_SourceHeight(LONG v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::put_SourceHeight, v);
}

HRESULT FilterGraph::get_SourceHeight(LONG* v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_SourceHeight, v);
}

HRESULT FilterGraph::put_DestinationLeft(LONG v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::put_DestinationLeft, v);
}

HRESULT FilterGraph::get_DestinationLeft(LONG* v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_DestinationLeft, v);
}

HRESULT FilterGraph::put_DestinationWidth(LONG v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::put_DestinationWidth, v);
}

HRESULT FilterGraph::get_DestinationWidth(LONG* v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_DestinationWidth, v);
}

HRESULT FilterGraph::put_DestinationTop(LONG v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::put_DestinationTop, v);
}

HRESULT FilterGraph::get_DestinationTop(LONG* v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_DestinationTop, v);
}

HRESULT FilterGraph::put_DestinationHeight(LONG v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::put_DestinationHeight, v);
}

HRESULT FilterGraph::get_DestinationHeight(LONG* v) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::get_DestinationHeight, v);
}

HRESULT FilterGraph::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::SetSourcePosition, left, top, width, height);
}

HRESULT FilterGraph::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::GetSourcePosition, left, top, width, height);
}

HRESULT FilterGraph::SetDefaultSourcePosition() {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::SetDefaultSourcePosition);
}

HRESULT FilterGraph::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::SetDestinationPosition, left, top, width,
                                       height);
}

HRESULT FilterGraph::GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::GetDestinationPosition, left, top, width,
                                       height);
}

HRESULT FilterGraph::SetDefaultDestinationPosition() {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::SetDefaultDestinationPosition);
}

HRESULT FilterGraph::GetVideoSize(LONG* width, LONG* height) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::GetVideoSize, width, height);
}

HRESULT FilterGraph::GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved,
                                            LONG* palette) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::GetVideoPaletteEntries, start, count,
                                       retrieved, palette);
}

HRESULT FilterGraph::GetCurrentImage(LONG* bufferSize, LONG* image) {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::GetCurrentImage, bufferSize, image);
}

HRESULT FilterGraph::IsUsingDefaultSource() {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::IsUsingDefaultSource);
}

HRESULT FilterGraph::IsUsingDefaultDestination() {
    return forwardToFirst<IBasicVideo>(this, IID_IBasicVideo, E_NOINTERFACE,
                                       &IBasicVideo::IsUsingDefaultDestination);
}

HRESULT FilterGraph::put_Caption(BSTR caption) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_Caption, caption);
}

HRESULT FilterGraph::get_Caption(BSTR* caption) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_Caption, caption);
}

HRESULT FilterGraph::put_WindowStyle(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_WindowStyle, v);
}

HRESULT FilterGraph::get_WindowStyle(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_WindowStyle, v);
}

HRESULT FilterGraph::put_WindowStyleEx(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_WindowStyleEx, v);
}

HRESULT FilterGraph::get_WindowStyleEx(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_WindowStyleEx, v);
}

HRESULT FilterGraph::put_AutoShow(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_AutoShow, v);
}

HRESULT FilterGraph::get_AutoShow(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_AutoShow, v);
}

HRESULT FilterGraph::put_WindowState(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_WindowState, v);
}

HRESULT FilterGraph::get_WindowState(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_WindowState, v);
}

HRESULT FilterGraph::put_BackgroundPalette(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_BackgroundPalette, v);
}

HRESULT FilterGraph::get_BackgroundPalette(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_BackgroundPalette, v);
}

HRESULT FilterGraph::put_Visible(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_Visible, v);
}

HRESULT FilterGraph::get_Visible(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_Visible, v);
}

HRESULT FilterGraph::put_Left(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_Left, v);
}

HRESULT FilterGraph::get_Left(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_Left, v);
}

HRESULT FilterGraph::put_Width(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_Width, v);
}

HRESULT FilterGraph::get_Width(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_Width, v);
}

HRESULT FilterGraph::put_Top(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_Top, v);
}

HRESULT FilterGraph::get_Top(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_Top, v);
}

HRESULT FilterGraph::put_Height(LONG v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_Height, v);
}

HRESULT FilterGraph::get_Height(LONG* v) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_Height, v);
}

HRESULT FilterGraph::put_Owner(OAHWND owner) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_Owner, owner);
}

HRESULT FilterGraph::get_Owner(OAHWND* owner) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_Owner, owner);
}

HRESULT FilterGraph::put_MessageDrain(OAHWND drain) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_MessageDrain, drain);
}

HRESULT FilterGraph::get_MessageDrain(OAHWND* drain) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_MessageDrain, drain);
}

HRESULT FilterGraph::get_BorderColor(LONG* color) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_BorderColor, color);
}

HRESULT FilterGraph::put_BorderColor(LONG color) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_BorderColor, color);
}

HRESULT FilterGraph::get_FullScreenMode(LONG* mode) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::get_FullScreenMode, mode);
}

HRESULT FilterGraph::put_FullScreenMode(LONG mode) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::put_FullScreenMode, mode);
}

HRESULT FilterGraph::SetWindowForeground(LONG focus) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::SetWindowForeground, focus);
}

HRESULT FilterGraph::NotifyOwnerMessage(OAHWND hwnd, LONG msg, LONG_PTR wParam, LONG_PTR lParam) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::NotifyOwnerMessage, hwnd, msg, wParam,
                                        lParam);
}

HRESULT FilterGraph::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::SetWindowPosition, left, top, width, height);
}

HRESULT FilterGraph::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::GetWindowPosition, left, top, width, height);
}

HRESULT FilterGraph::GetMinIdealImageSize(LONG* width, LONG* height) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::GetMinIdealImageSize, width, height);
}

HRESULT FilterGraph::GetMaxIdealImageSize(LONG* width, LONG* height) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::GetMaxIdealImageSize, width, height);
}

HRESULT FilterGraph::GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::GetRestorePosition, left, top, width,
                                        height);
}

HRESULT FilterGraph::HideCursor(LONG hide) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::HideCursor, hide);
}

HRESULT FilterGraph::IsCursorHidden(LONG* hidden) {
    return forwardToFirst<IVideoWindow>(this, IID_IVideoWindow, E_NOINTERFACE,
                                        &IVideoWindow::IsCursorHidden, hidden);
}

} // namespace sim
