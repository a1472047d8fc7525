#include "social/KRMessageViewController.h"

KRMessageViewController::KRMessageViewController(int tableStyle, QObject* parent)
    : KRComingLaterViewController(QStringLiteral("消息"), parent)
    , m_tableStyle(tableStyle)
{
}
