#pragma once

#include "look/KRComingLaterViewController.h"

// The following feed ("关注"), which the discover tab's entry buttons push: "video" for the
// videos of followed users alone, anything else for the whole feed ("all").
class KRFollowingViewController : public KRComingLaterViewController {
    Q_OBJECT
public:
    explicit KRFollowingViewController(const QString& feedType = QStringLiteral("all"), QObject* parent = nullptr);
    QString feedType() const { return m_feedType; }

private:
    QString m_feedType;
};
