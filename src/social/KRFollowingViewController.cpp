#include "social/KRFollowingViewController.h"

KRFollowingViewController::KRFollowingViewController(const QString& feedType, QObject* parent)
    : KRComingLaterViewController(QStringLiteral("关注"), parent)
    , m_feedType(feedType == QLatin1String("video") ? feedType : QStringLiteral("all"))
{
}
