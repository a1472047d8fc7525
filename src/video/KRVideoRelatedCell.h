#pragma once

#include "platform/uikit/TableViewCell.h"

#include <QString>

#include <memory>

class KRVideo;

namespace platform::uikit {
class ImageView;
class Label;
}

// A related video under the information page: cover, title on two lines, uploader and plays.
// The row remembers the cover address it stands for, so a cover that arrives after the row was
// reused for another video is dropped.
class KRVideoRelatedCell : public platform::uikit::TableViewCell {
    Q_OBJECT
public:
    explicit KRVideoRelatedCell(const QString& reuseIdentifier);

    // Fills the row and loads its cover with `owner` (the part's requests).
    void configureWithVideo(const std::shared_ptr<KRVideo>& video, QObject* owner);
    void applyTheme();
    platform::uikit::ImageView* coverView() const { return m_coverView; }
    platform::uikit::Label* titleLabel() const { return m_titleLabel; }
    platform::uikit::Label* metaLabel() const { return m_metaLabel; }
    QString representedCoverURL() const { return m_representedCoverURL; }

    void prepareForReuse() override;
    void layoutSubviews() override;

private:
    platform::uikit::ImageView* m_coverView;
    platform::uikit::Label* m_titleLabel;
    platform::uikit::Label* m_metaLabel;
    QString m_representedCoverURL;
};
