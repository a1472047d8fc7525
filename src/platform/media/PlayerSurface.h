#pragma once

#include "platform/uikit/View.h"

#include <QPointer>

namespace platform::media {

class MediaPlayer;

enum VideoGravity { VideoGravityResizeAspect = 0, VideoGravityResizeAspectFill = 1, VideoGravityResize = 2 };

// Shows a player's picture: the engine's software renderer draws into an image the size of
// the surface, which is painted with QPainter, so it works on every Qt platform, offscreen
// included. Invisible (alpha 0 or hidden) it asks for a tiny picture, which keeps the
// decoded-frame probe going at almost no cost.
class PlayerSurface : public uikit::View {
    Q_OBJECT
public:
    explicit PlayerSurface(const QRectF& frame = QRectF(), uikit::View* superview = nullptr);
    ~PlayerSurface() override;

    // The picture is drawn at once when a player is set, so a swap shows no empty frame.
    void setPlayer(MediaPlayer* player);
    MediaPlayer* player() const { return m_player; }
    int videoGravity() const { return m_gravity; }
    void setVideoGravity(int gravity);
    // The player has a picture to show (or has no picture at all).
    bool isReadyForDisplay() const;
    // Frames painted by this surface.
    int paintedFrames() const { return m_paintedFrames; }

    void setFrame(const QRectF& frame) override;
    // Re-reads whether the surface is visible (after alpha or visibility changes); a visible
    // surface of a new size has the player's picture drawn again at that size at once.
    void refreshRenderSize();

protected:
    void drawRect(QPainter& painter) override;

private:
    QPointer<MediaPlayer> m_player;
    QMetaObject::Connection m_frameConnection;
    int m_gravity = VideoGravityResizeAspect;
    int m_paintedFrames = 0;
};

} // namespace platform::media
