#include "platform/media/PlayerSurface.h"

#include "platform/media/MediaPlayer.h"
#include "platform/uikit/ImageView.h"

#include <QPainter>

namespace platform::media {

PlayerSurface::PlayerSurface(const QRectF& frame, uikit::View* superview) : uikit::View(frame, superview)
{
    setBackgroundColor(QColor(Qt::black));
    setUserInteractionEnabled(false);
}

PlayerSurface::~PlayerSurface() = default;

void PlayerSurface::setPlayer(MediaPlayer* player)
{
    if (m_player == player)
        return;
    disconnect(m_frameConnection);
    m_player = player;
    if (!player) {
        update();
        return;
    }
    m_frameConnection = connect(player, &MediaPlayer::frameRendered, this, [this] { update(); });
    refreshRenderSize();
    player->core()->renderFrame(player->core()->renderSize(), true);
    update();
}

void PlayerSurface::setVideoGravity(int gravity)
{
    m_gravity = gravity;
    update();
}

bool PlayerSurface::isReadyForDisplay() const
{
    if (!m_player || m_player->status() != MediaPlayer::StatusReadyToPlay)
        return false;
    return m_player->presentationSize().width() <= 0 || m_player->framesSinceLoadOrSeek() > 0;
}

void PlayerSurface::setFrame(const QRectF& frame)
{
    uikit::View::setFrame(frame);
    refreshRenderSize();
}

void PlayerSurface::refreshRenderSize()
{
    if (!m_player)
        return;
    // Only an explicit hide counts: a surface not yet in a shown window still draws.
    const bool hidden = isHidden() && testAttribute(Qt::WA_WState_ExplicitShowHide);
    const bool shown = alpha() > 0.001 && !hidden && frame().width() >= 1 && frame().height() >= 1;
    MpvCore* core = m_player->core();
    const QSize before = core->renderSize();
    core->setRenderSize(shown ? frame().size().toSize() : QSize(16, 16));
    if (!shown || core->renderSize() == before)
        return;
    // The engine draws a new size only with its next picture, and a paused player has none
    // coming: the picture it holds (decoded while this surface was small or hidden, say) is
    // drawn again now, or it would stay blown up from a few pixels until playback moves on.
    core->renderFrame(core->renderSize(), true);
    update();
}

void PlayerSurface::drawRect(QPainter& painter)
{
    uikit::View::drawRect(painter);
    if (!m_player)
        return;
    const QImage image = m_player->core()->frameImage();
    const QSizeF picture = m_player->presentationSize();
    if (image.isNull() || picture.isEmpty())
        return;
    const QRectF bounds(QPointF(0, 0), frame().size());
    const int mode = m_gravity == VideoGravityResize ? uikit::ContentModeScaleToFill
        : m_gravity == VideoGravityResizeAspectFill ? uikit::ContentModeScaleAspectFill
                                                    : uikit::ContentModeScaleAspectFit;
    const QRectF target = uikit::rectForContentMode(mode, picture, bounds);
    // The engine drew the picture fitted into the whole image; take that part back out.
    const QRectF fitted = uikit::rectForContentMode(uikit::ContentModeScaleAspectFit, picture,
                                                    QRectF(QPointF(0, 0), QSizeF(image.size())));
    painter.save();
    painter.setClipRect(bounds);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image, fitted);
    painter.restore();
    ++m_paintedFrames;
}

} // namespace platform::media
