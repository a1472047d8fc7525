#pragma once

#include "platform/uikit/TableViewCell.h"

#include <QString>

#include <array>
#include <memory>

class KRVideo;
class KRVideoGridCellDelegate;

namespace platform::uikit {
class Button;
class ImageView;
class Label;
}

// The row of the double-column layout: two video cards side by side, either of which may be
// empty. Each card remembers the cover address it stands for, so a late cover of an earlier
// configuration is dropped.
class KRVideoGridCell : public platform::uikit::TableViewCell {
    Q_OBJECT
public:
    // Card buttons are tagged from here (left, right); inside a card the cover, title, meta
    // line and duration badge carry the tags below.
    static constexpr int kCardTagBase = 6200;
    static constexpr int kCoverTag = 6101;
    static constexpr int kTitleTag = 6102;
    static constexpr int kMetaTag = 6103;
    static constexpr int kDurationTag = 6104;

    explicit KRVideoGridCell(int style = platform::uikit::TableViewCellStyleDefault, const QString& reuseIdentifier = {});
    ~KRVideoGridCell() override;

    // Not owned; the owner clears it before it goes.
    KRVideoGridCellDelegate* delegate() const { return m_delegate; }
    void setDelegate(KRVideoGridCellDelegate* delegate) { m_delegate = delegate; }

    void configureWithLeftVideo(const std::shared_ptr<KRVideo>& left, const std::shared_ptr<KRVideo>& right);
    void applyTheme();
    void cardTapped(platform::uikit::Button* card);

    std::shared_ptr<KRVideo> videoAt(int index) const;
    QString representedCoverURLAt(int index) const;
    platform::uikit::Button* cardButton(int index) const;
    platform::uikit::ImageView* coverView(int index) const;
    platform::uikit::Label* titleLabel(int index) const;
    platform::uikit::Label* metaLabel(int index) const;
    platform::uikit::Label* durationLabel(int index) const;

    void layoutSubviews() override;

private:
    KRVideoGridCellDelegate* m_delegate = nullptr;
    std::array<std::shared_ptr<KRVideo>, 2> m_videos;
    std::array<platform::uikit::Button*, 2> m_buttons{};
    std::array<platform::uikit::ImageView*, 2> m_coverViews{};
    std::array<platform::uikit::Label*, 2> m_titleLabels{};
    std::array<platform::uikit::Label*, 2> m_metaLabels{};
    std::array<platform::uikit::Label*, 2> m_durationLabels{};
    std::array<QString, 2> m_representedCoverURLs;
};
