#pragma once

#include "platform/uikit/TableViewCell.h"

#include <QList>
#include <QString>

#include <array>
#include <memory>

class KRVideo;
class KRPGCGridCellDelegate;

namespace platform::uikit {
class Button;
class ImageView;
class Label;
}

// A row of up to five portrait cover cards of the anime and film catalogues. The list picks
// the column count and row height for its width with the two class functions.
class KRPGCGridCell : public platform::uikit::TableViewCell {
    Q_OBJECT
public:
    static constexpr int kCardTagBase = 7300;
    static constexpr int kMaxColumns = 5;

    // 3 up to 500 points, else one column per 150 points, 3 to 5; 0 or less: the screen's width.
    static int columnCountForWidth(qreal width);
    static qreal rowHeightForWidth(qreal width);

    explicit KRPGCGridCell(int style = platform::uikit::TableViewCellStyleDefault, const QString& reuseIdentifier = {});
    ~KRPGCGridCell() override;

    KRPGCGridCellDelegate* delegate() const { return m_delegate; }
    void setDelegate(KRPGCGridCellDelegate* delegate) { m_delegate = delegate; }

    void configureWithVideos(const QList<std::shared_ptr<KRVideo>>& videos, int columnCount);
    void applyTheme();
    void cardTapped(platform::uikit::Button* card);

    int columnCount() const { return m_columnCount; }
    QString representedCoverURLAt(int index) const;
    platform::uikit::Button* cardButton(int index) const;
    platform::uikit::ImageView* coverView(int index) const;
    platform::uikit::Label* titleLabel(int index) const;
    platform::uikit::Label* subtitleLabel(int index) const;
    platform::uikit::Label* episodeLabel(int index) const;
    platform::uikit::Label* badgeLabel(int index) const;

    void layoutSubviews() override;

private:
    KRPGCGridCellDelegate* m_delegate = nullptr;
    QList<std::shared_ptr<KRVideo>> m_videos;
    std::array<platform::uikit::Button*, kMaxColumns> m_buttons{};
    std::array<platform::uikit::ImageView*, kMaxColumns> m_coverViews{};
    std::array<platform::uikit::Label*, kMaxColumns> m_titleLabels{};
    std::array<platform::uikit::Label*, kMaxColumns> m_subtitleLabels{};
    std::array<platform::uikit::Label*, kMaxColumns> m_episodeLabels{};
    std::array<platform::uikit::Label*, kMaxColumns> m_badgeLabels{};
    std::array<QString, kMaxColumns> m_representedCoverURLs;
    int m_columnCount = 3;
};
