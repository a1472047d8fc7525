#pragma once

#include "platform/uikit/Image.h"
#include "platform/uikit/TableViewCell.h"

#include <QString>

#include <memory>

class KRVideo;

namespace platform::uikit {
class ImageView;
class Label;
class ProgressView;
}

// The shared stand-in cover: our bundle art, or a drawn grey card reading "封面" without it.
platform::uikit::Image KRVideoPlaceholderImage();
// Our bundle art for a video that can no longer be watched; null without it. Made once.
platform::uikit::Image KRVideoInvalidCoverImage();

// The single-column row of one video (cover, title, uploader, counts, partition), also used
// for a list's text-only rows and, in the library, with the progress of an offline download.
// The row remembers the cover address it stands for so that a cover arriving after the row
// was reused for another video is not shown.
class KRVideoCell : public platform::uikit::TableViewCell {
    Q_OBJECT
public:
    explicit KRVideoCell(int style = platform::uikit::TableViewCellStyleDefault, const QString& reuseIdentifier = {});
    ~KRVideoCell() override;

    // Fills the row; the owner then loads the cover (see loadCover).
    void configureWithVideo(const std::shared_ptr<KRVideo>& video);
    // A row that is not a video: the meta text takes the owner's place on two lines.
    void setTitleText(const QString& title, const QString& metaText, const QString& coverURL);
    // Null shows the placeholder.
    void setCoverImage(const platform::uikit::Image& image);
    QString representedCoverURL() const { return m_representedCoverURL; }
    void setRepresentedCoverURL(const QString& address) { m_representedCoverURL = address; }
    // Loads the represented cover through the shared loader and shows it only while the row
    // still stands for that address.
    void loadCover();
    void setOfflineDownloadProgress(float progress, const QString& statusText);
    void setOfflineLibrarySelected(bool selected);
    void applyTheme();

    void prepareForReuse() override;
    void layoutSubviews() override;

    platform::uikit::ImageView* coverView() const { return m_coverView; }
    platform::uikit::Label* titleLabel() const { return m_titleLabel; }
    platform::uikit::Label* durationLabel() const { return m_durationLabel; }
    platform::uikit::Label* ownerLabel() const { return m_ownerLabel; }
    platform::uikit::Label* statsLabel() const { return m_statsLabel; }
    platform::uikit::Label* partitionLabel() const { return m_partitionLabel; }
    platform::uikit::ProgressView* offlineProgressView() const { return m_offlineProgressView; }
    platform::uikit::Label* offlineProgressLabel() const { return m_offlineProgressLabel; }

private:
    platform::uikit::ImageView* m_coverView;
    platform::uikit::Label* m_titleLabel;
    platform::uikit::Label* m_durationLabel;
    platform::uikit::Label* m_ownerLabel;
    platform::uikit::Label* m_statsLabel;
    platform::uikit::Label* m_partitionLabel;
    platform::uikit::ProgressView* m_offlineProgressView;
    platform::uikit::Label* m_offlineProgressLabel;
    QString m_representedCoverURL;
};
