#include "browse/KRSearchViewController.h"

KRSearchViewController::KRSearchViewController(QObject* parent)
    : KRSearchViewController(QString(), parent) {}

KRSearchViewController::KRSearchViewController(const QString& keyword, QObject* parent)
    : platform::uikit::TableViewController(0, parent), m_initialKeyword(keyword) {
    setTitle(QStringLiteral("探索"));
}

KRSearchViewController::~KRSearchViewController() = default;

void KRSearchViewController::viewDidLoad() {
    TableViewController::viewDidLoad();
    setTitle(QStringLiteral("探索"));
}
