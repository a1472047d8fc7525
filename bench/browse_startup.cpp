// A cold start of the application's shell beside the bare work it is built on, in one run.
// Timed: the window, the root with its four tabs, the home list's first feed page loaded from
// the fake service on loopback (asked for before the root is built, as the delegate does), and the window's own paints up to the first one that shows the
// page (the screen's first paint while it is still empty included, as a start has it). Covers
// are left out: their requests may go out, but no start waits for them, and they are drained
// before the next round. Bare: the same two requests (the navigation key and the feed) as plain
// exchanges on one worker, each body read with QJsonDocument, plus one offscreen paint of an
// equal tree of plain widgets (a copy of the page the warm-up start left: each view a box of its
// frame and colour, each label its text drawn with QPainter::drawText, each image its picture),
// made anew before each round so that its text is shaped in the paint, as a first paint's is.
// The ratio is printed at the end (aim: within 1.5x of the baseline).

#include "BenchSupport.h"
#include "BenchWidgets.h"

#include "shell/KRRootViewController.h"
#include "browse/KRVideoListViewController.h"
#include "images/KRImageLoader.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/HTTPExchange.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/Window.h"
#include "service/KRAPIClient.h"
#include "service/KRServiceShutdown.h"
#include "support/FakeService.h"
#include "support/ServiceFixtures.h"

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QJsonDocument>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>
#include <vector>

using namespace platform::uikit;

namespace {

double g_ratio = 0;

KRVideoListViewController* homeList(KRRootViewController* root)
{
    auto* home = qobject_cast<NavigationController*>(root->viewControllers().value(0));
    return home ? qobject_cast<KRVideoListViewController*>(home->viewControllers().value(0)) : nullptr;
}

// Sees the paints of one widget tree: `painted` turns true at the first paint inside `root`
// once `armed` (the page has arrived); the paint itself is over when the event loop returns.
class FirstPaintAfter : public QObject {
public:
    QWidget* root = nullptr;
    bool armed = false;
    bool painted = false;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (armed && !painted && event->type() == QEvent::Paint && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            painted = widget == root || root->isAncestorOf(widget);
        }
        return false;
    }
};

// Waits in the event loop until `done` holds; false when ten seconds pass first. Blocks until
// the next event (processEvents with a time limit polls instead, and the spinning main thread
// would take a core from the start it measures); the timer only ends the wait when nothing comes.
template <typename Done>
bool waitFor(Done done)
{
    bool expired = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] { expired = true; });
    deadline.start(10000);
    while (!done() && !expired)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return done();
}

// One cold start to the first paint that shows the page; the addresses it asked the service
// for land in `addresses`. The window is left in `shown`, so taking it down is not timed with
// the start. False when the page did not come or was never painted.
bool coldStart(testsupport::FakeService& service, QStringList* addresses, std::unique_ptr<Window>* shown)
{
    KRAPIClient::resetWBIMixinKeyForTesting();
    KRAPIClient::resetReadLoaderStateForTesting();
    service.clearRequests();
    FirstPaintAfter paints;
    QCoreApplication::instance()->installEventFilter(&paints);
    *shown = std::make_unique<Window>();
    Window& window = **shown;
    paints.root = &window;
    // As the application delegate starts: the first page is asked for before the root exists.
    KRAPIClient::sharedClient()->prefetchRecommendedHomePage();
    auto* root = new KRRootViewController;
    window.setRootViewController(root);
    window.makeKeyAndVisible();
    KRVideoListViewController* list = homeList(root);
    const bool arrived = list && waitFor([&] { return !list->videos().isEmpty(); });
    paints.armed = true;
    const bool painted = arrived && waitFor([&] { return paints.painted; });
    QCoreApplication::instance()->removeEventFilter(&paints);
    if (!painted)
        return false;
    addresses->clear();
    for (const testsupport::FakeRequest& request : service.requests())
        if (request.path.endsWith(QLatin1String("/nav")) || request.path.endsWith(QLatin1String("/rcmd")))
            *addresses << QStringLiteral("https://") + request.host + request.path
                    + (request.query.isEmpty() ? QString() : QLatin1Char('?') + request.query);
    return addresses->size() == 2;
}

// A plain widget standing for one view of the page: its background, its picture, its text.
class PlainView : public QWidget {
public:
    QBrush background;
    QImage picture;
    QString text;
    QFont font;
    QColor textColor;
    int textFlags = 0;

    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (background.style() != Qt::NoBrush)
            painter.fillRect(rect(), background);
        if (!picture.isNull())
            painter.drawImage(QRectF(rect()), picture);
        if (!text.isEmpty()) {
            painter.setFont(font);
            painter.setPen(textColor);
            painter.drawText(rect(), textFlags, text);
        }
    }
};

// The plain copy of a view and of its visible subviews, at the same places.
void copyTree(const QWidget* from, QWidget* to)
{
    for (QObject* child : from->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isHidden())
            continue;
        auto* copy = new PlainView(to);
        copy->setGeometry(widget->geometry());
        if (auto* view = qobject_cast<const View*>(widget))
            copy->background = view->backgroundColor();
        if (auto* label = qobject_cast<const Label*>(widget)) {
            copy->text = label->text();
            copy->font = label->font();
            copy->textColor = label->textColor();
            const int horizontal = label->textAlignment() == TextAlignmentCenter ? Qt::AlignHCenter
                                 : label->textAlignment() == TextAlignmentRight  ? Qt::AlignRight
                                                                                 : Qt::AlignLeft;
            copy->textFlags = horizontal | Qt::AlignVCenter | (label->numberOfLines() == 1 ? 0 : int(Qt::TextWordWrap));
        }
        if (auto* imageView = qobject_cast<const ImageView*>(widget))
            copy->picture = imageView->image().image();
        copyTree(widget, copy);
    }
}

std::unique_ptr<QWidget> plainCopy(const Window& page)
{
    auto copy = std::make_unique<PlainView>();
    copy->resize(page.size());
    copy->background = page.backgroundColor();
    copyTree(&page, copy.get());
    return copy;
}

// Untimed, between rounds: the covers the last start asked for are answered (or refused) and
// handed out, so none of them lands in the next round.
void drainCovers()
{
    waitFor([] { return KRImageLoader::sharedLoader()->downloadCountForTesting() == 0; });
    QCoreApplication::processEvents();
}

// The same requests as plain exchanges, one after the other on a worker of the same shared
// pool the client's queues use, so both sides find the connections the warm-up round left;
// then one offscreen paint of the equal tree of plain widgets.
bool bareRequestsAndPaint(platform::OperationQueue& worker, const QStringList& addresses, QWidget& page)
{
    bool ok = true;
    worker.addOperation([&] {
        for (const QString& address : addresses) {
            platform::HTTPRequest request;
            request.url = address;
            const platform::HTTPResponse response = platform::performHTTPExchange(request);
            const QJsonDocument document = QJsonDocument::fromJson(response.body);
            ok = ok && response.ok() && response.status == 200 && document.isObject();
        }
    });
    worker.waitUntilAllOperationsAreFinished();
    const QImage painted = page.grab().toImage();
    benchmark::DoNotOptimize(painted.constBits());
    return ok && !painted.isNull();
}

void BM_ColdStartToFirstPaintedPageVersusBareRequests(benchmark::State& state)
{
    testsupport::FakeService service(KRServiceHosts::allServiceHosts());
    testsupport::ServiceFixtures::installReadRoutes(service);
    platform::OperationQueue worker(1, QStringLiteral("bench.bare"));
    AnimationClock::setManual(true);
    QStringList addresses;
    // One start beforehand, so connections and the process's one-time set-up are not measured
    // in the first round alone; its page stays as the bare side's widget tree.
    std::unique_ptr<Window> reference;
    if (!coldStart(service, &addresses, &reference)) {
        state.SkipWithError("the first page did not come");
        return;
    }
    drainCovers();
    AnimationClock::finishAll();
    reference->layoutIfNeeded();
    std::unique_ptr<Window> shown;
    std::unique_ptr<QWidget> plain = plainCopy(*reference);
    if (!bareRequestsAndPaint(worker, addresses, *plain)) {
        state.SkipWithError("the bare requests failed");
        return;
    }
    std::vector<double> ratios;
    for (auto _ : state) {
        bool ok = true;
        shown.reset();
        const double start =
            benchsupport::microsecondsPerCall([&] { ok = coldStart(service, &addresses, &shown) && ok; }, 1);
        drainCovers();
        plain = plainCopy(*reference);
        const double bare =
            benchsupport::microsecondsPerCall([&] { ok = bareRequestsAndPaint(worker, addresses, *plain) && ok; }, 1);
        if (!ok) {
            state.SkipWithError("a start or a request failed");
            return;
        }
        ratios.push_back(start / bare);
    }
    shown.reset();
    plain.reset();
    reference.reset();
    g_ratio = benchsupport::median(ratios);
    state.counters["ratio"] = g_ratio;
}
BENCHMARK(BM_ColdStartToFirstPaintedPageVersusBareRequests)->Unit(benchmark::kMillisecond)->Iterations(9);

} // namespace

int main(int argc, char** argv)
{
    // The list and the clients print a line per request.
    return benchsupport::runBenchmarks<QApplication>(argc, argv, benchsupport::MainSetup().quietConsole().report([] {
        KRShutDownServices();
        std::printf("cold start to the first painted page / bare requests: %.2fx (aim: within 1.5x)\n", g_ratio);
    }));
}
