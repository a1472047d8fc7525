#include "browse/KRSectionsViewController.h"

#include "model/KRSectionRegistry.h"
#include "platform/uikit/View.h"

using namespace platform::uikit;

namespace {

const QString kTitle = QStringLiteral("发现");

} // namespace

KRSectionsViewController::KRSectionsViewController(QObject* parent)
    : TableViewController(0, parent)
{
    setTitle(kTitle);
}

KRSectionsViewController::~KRSectionsViewController() = default;

QVariantList KRSectionsViewController::channels() const { return KRSectionRegistry::allSections(); }

bool KRSectionsViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

void KRSectionsViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(kTitle);
}
