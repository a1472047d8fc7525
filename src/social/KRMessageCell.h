#pragma once

#include "platform/uikit/TableViewCell.h"

#include <QString>
#include <QVariantMap>

namespace platform::uikit {
class ImageView;
class Label;
}

// One inbox row: the sender's avatar, who did what, and the text it concerns.
class KRMessageCell : public platform::uikit::TableViewCell {
    Q_OBJECT
public:
    explicit KRMessageCell(int style = platform::uikit::TableViewCellStyleSubtitle, const QString& reuseIdentifier = {});

    platform::uikit::ImageView* messageAvatarView() const { return m_avatarView; }
    // The avatar answer the row waits for ("<id>|<avatar address>"); a row reused for another
    // message drops the answer meant for the earlier one.
    QString messageIdentity() const { return m_messageIdentity; }

    // Fills the row for `record`; `mentions` picks the wording of the mentions feed.
    void configureWithMessage(const QVariantMap& record, bool mentions);
    void applyTheme();

    void prepareForReuse() override;
    void layoutSubviews() override;

private:
    platform::uikit::ImageView* m_avatarView;
    platform::uikit::Label* m_chevron;
    QString m_messageIdentity;
};
