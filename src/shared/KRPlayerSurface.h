#pragma once

#include <QPointer>
#include <QRectF>

namespace platform::uikit {
class View;
}

// The persistent surface a playing player's container lives in: a black, clipping view in the
// window's root view (over the navigation and tab views), placed over the container's frame in
// the screen's layout while embedded, and grown to fill the root view for the full screen
// drawn by the application. The container keeps its place in the layout (its superview, index
// and mask are saved) and goes back there when the surface is removed.
class KRPlayerSurface {
public:
    KRPlayerSurface() = default;
    ~KRPlayerSurface();
    KRPlayerSurface(const KRPlayerSurface&) = delete;
    KRPlayerSurface& operator=(const KRPlayerSurface&) = delete;

    // True at once when installed. False without a container in a superview or without any
    // window (the container's, else the key window).
    bool install(platform::uikit::View* container);
    void uninstall();
    bool isInstalled() const;
    platform::uikit::View* backdrop() const;
    // The view the surface lives in (the root screen's view, else the window).
    platform::uikit::View* host() const;
    platform::uikit::View* container() const;

    // The container's frame in the screen's layout, kept by every layout of the screen.
    void setEmbeddedFrame(const QRectF& frame) { m_embeddedFrame = frame; }
    QRectF embeddedFrame() const { return m_embeddedFrame; }
    // The embedded frame in the host's coordinates; null when the screen's layout is gone.
    QRectF embeddedFrameInHost() const;
    // Over the embedded frame, the container filling it; false when it could not be placed.
    bool layoutEmbedded();
    // Filling the host, raised above its siblings.
    void layoutFullscreen();
    // The surface at `frame` of the host, the container filling it.
    void placeInHost(const QRectF& frame);
    void raise();
    // Hidden while another screen covers the one it belongs to.
    void setCovered(bool covered);

private:
    QPointer<platform::uikit::View> m_backdrop;
    QPointer<platform::uikit::View> m_container;
    QPointer<platform::uikit::View> m_savedSuperview;
    QRectF m_savedFrame;
    QRectF m_embeddedFrame;
    int m_savedMask = 0;
    int m_savedIndex = 0;
};
