#pragma once

#include "platform/uikit/Image.h"
#include "platform/uikit/TableViewController.h"

#include <QColor>
#include <QString>
#include <QVariantList>

// What one list shows (2 is not used).
enum KRVideoListMode : int {
    KRVideoListModeHome = 0,      // the recommended home feed
    KRVideoListModeSection = 1,   // one region by tid
    KRVideoListModePGC = 3,       // a PGC season catalogue as a poster grid
    KRVideoListModeAggregate = 4, // several regions merged
};

// The height of one two-card row for a table width; a width of 0 or less means the main
// screen's width.
qreal KRDoubleColumnRowHeightForWidth(qreal width);
// A stretchable 24×44 rounded button background: a vertical gradient with a 1-point border.
platform::uikit::Image KRRoundedImage(const QColor& top, const QColor& bottom, const QColor& border);

// The paged video list of the browsing side: the home feed, one region, a PGC catalogue or an
// aggregate of regions.
class KRVideoListViewController : public platform::uikit::TableViewController {
    Q_OBJECT
public:
    KRVideoListViewController(int mode, qint64 tid, const QString& title, QObject* parent = nullptr);
    ~KRVideoListViewController() override;

    // A PGC catalogue of one season type (mode 3).
    static KRVideoListViewController* createWithPGCSeasonType(qint64 seasonType, const QString& title,
                                                              QObject* parent = nullptr);
    // Several regions merged page by page (mode 4).
    static KRVideoListViewController* createWithAggregateRIDs(const QVariantList& rids, const QString& title,
                                                              QObject* parent = nullptr);

    int mode() const { return m_mode; }
    qint64 tid() const { return m_tid; }
    qint64 seasonType() const { return m_seasonType; }
    QVariantList aggregateRIDs() const { return m_aggregateRIDs; }
    QString listTitle() const { return m_listTitle; }

    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

protected:
    void viewDidLoad() override;

private:
    int m_mode;
    qint64 m_tid;
    qint64 m_seasonType = 0;
    QVariantList m_aggregateRIDs;
    QString m_listTitle;
};
