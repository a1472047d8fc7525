#include "shared/KRPlayerSurface.h"

#include "platform/uikit/Application.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

#include <QDebug>

#include <algorithm>

using namespace platform::uikit;

KRPlayerSurface::~KRPlayerSurface() { delete m_backdrop.data(); }

View* KRPlayerSurface::host() const { return m_backdrop ? m_backdrop->superview() : nullptr; }

bool KRPlayerSurface::install(View* container)
{
    if (m_backdrop)
        return true;
    if (!container || !container->superview())
        return false;
    Window* window = container->window();
    if (!window)
        window = Application::shared().keyWindow();
    if (!window)
        return false;
    ViewController* root = window->rootViewController();
    View* host = root && root->isViewLoaded() ? root->view() : static_cast<View*>(window);
    m_container = container;
    m_savedSuperview = container->superview();
    m_savedFrame = container->frame();
    // The screen lays the surface out again on its way back from a covering screen, whether or
    // not its own layout has run since.
    m_embeddedFrame = container->frame();
    m_savedMask = container->autoresizingMask();
    m_savedIndex = int(container->superview()->subviews().indexOf(container));
    const QRectF frame = container->superview()->convertRectToView(container->frame(), host);
    auto* backdrop = new View(frame, host);
    backdrop->setObjectName(QStringLiteral("customFullscreenBackdrop"));
    backdrop->setBackgroundColor(QColor(Qt::black));
    backdrop->setAutoresizingMask(AutoresizingNone);
    m_backdrop = backdrop;
    container->removeFromSuperview();
    container->setFrame(backdrop->bounds());
    container->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    backdrop->addSubview(container);
    qInfo().noquote() << QStringLiteral("[KorvanePlayerSurface] persistent-install frame=%1").arg(StringFromRect(frame));
    return true;
}

void KRPlayerSurface::uninstall()
{
    if (!m_backdrop)
        return;
    View* container = m_container;
    if (m_savedSuperview && container && container->superview() != m_savedSuperview) {
        const int index = std::min(m_savedIndex, int(m_savedSuperview->subviews().size()));
        m_savedSuperview->insertSubviewAtIndex(container, std::max(index, 0));
    }
    if (container) {
        container->setFrame(m_embeddedFrame.isValid() ? m_embeddedFrame : m_savedFrame);
        container->setAutoresizingMask(m_savedMask);
    }
    delete m_backdrop.data();
    m_backdrop = nullptr;
    m_container = nullptr;
    m_savedSuperview = nullptr;
    m_savedFrame = m_embeddedFrame = QRectF();
    m_savedMask = m_savedIndex = 0;
}

QRectF KRPlayerSurface::embeddedFrameInHost() const
{
    View* host = this->host();
    if (!host || !m_savedSuperview || !m_savedSuperview->window())
        return {};
    return m_savedSuperview->convertRectToView(m_embeddedFrame, host);
}

bool KRPlayerSurface::layoutEmbedded()
{
    const QRectF frame = embeddedFrameInHost();
    if (frame.isNull())
        return false;
    placeInHost(frame);
    return true;
}

void KRPlayerSurface::placeInHost(const QRectF& frame)
{
    if (!m_backdrop)
        return;
    m_backdrop->setFrame(frame);
    if (m_container && m_container->superview() == m_backdrop)
        m_container->setFrame(m_backdrop->bounds());
}

void KRPlayerSurface::layoutFullscreen()
{
    View* host = this->host();
    if (!m_backdrop)
        return;
    raise();
    placeInHost(host ? host->bounds() : m_backdrop->bounds());
}

void KRPlayerSurface::raise()
{
    if (View* host = this->host())
        host->bringSubviewToFront(m_backdrop);
}

void KRPlayerSurface::setCovered(bool covered)
{
    if (!m_backdrop)
        return;
    m_backdrop->setHidden(covered);
    if (covered)
        return;
    layoutEmbedded();
    raise();
}

bool KRPlayerSurface::isInstalled() const { return !m_backdrop.isNull(); }

View* KRPlayerSurface::backdrop() const { return m_backdrop; }

View* KRPlayerSurface::container() const { return m_container; }
