#include "KitTestSupport.h"

#include "platform/foundation/Dispatch.h"
#include "platform/photos/PhotoLibrary.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QThread>
#include <QUrl>

using platform::photos::PhotoAsset;
using platform::photos::PhotoLibrary;

namespace {

class PhotoLibraryTest : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        album = testsupport::testHome() + QStringLiteral("/Album");
        qputenv("KORVANE_PHOTO_LIBRARY", album.toUtf8());
    }
    void TearDown() override
    {
        qunsetenv("KORVANE_PHOTO_LIBRARY");
        KitTest::TearDown();
    }
    // A picture file of this size, modified `minutesAgo` before now.
    QString addPicture(const QString& name, int minutesAgo, QSize size = QSize(40, 30), const char* format = "PNG")
    {
        QDir().mkpath(album);
        const QString path = album + QLatin1Char('/') + name;
        QImage image(size, QImage::Format_RGB32);
        image.fill(QColor(10 * minutesAgo % 255, 80, 160));
        EXPECT_TRUE(image.save(path, format));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite));
        EXPECT_TRUE(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-60 * minutesAgo), QFileDevice::FileModificationTime));
        return path;
    }
    struct Listing {
        bool done = false;
        bool onMain = false;
        QList<PhotoAsset> assets;
        std::optional<platform::Error> error;
    };
    Listing list(PhotoLibrary& library)
    {
        auto listing = std::make_shared<Listing>();
        library.loadAssets(&owner, [listing](const QList<PhotoAsset>& assets, const std::optional<platform::Error>& error) {
            listing->done = true;
            listing->onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
            listing->assets = assets;
            listing->error = error;
        });
        EXPECT_TRUE(testsupport::waitUntil([&] { return listing->done; }));
        return *listing;
    }
    static QStringList names(const QList<PhotoAsset>& assets)
    {
        QStringList out;
        for (const PhotoAsset& asset : assets)
            out.append(QFileInfo(asset.filePath).fileName());
        return out;
    }

    QString album;
    QObject owner;
};

TEST_F(PhotoLibraryTest, AssetsAreTheAlbumsPicturesNewestFirstThenByName)
{
    addPicture(QStringLiteral("old.png"), 30);
    addPicture(QStringLiteral("b.jpg"), 5, QSize(40, 30), "JPG");
    addPicture(QStringLiteral("a.png"), 5);
    addPicture(QStringLiteral("new.png"), 1);
    QFile notes(album + QStringLiteral("/notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("not a picture");
    notes.close();
    QDir().mkpath(album + QStringLiteral("/folder.png"));

    PhotoLibrary library;
    const Listing listing = list(library);
    EXPECT_TRUE(listing.onMain);
    ASSERT_FALSE(listing.error);
    EXPECT_EQ(names(listing.assets), (QStringList{"new.png", "a.png", "b.jpg", "old.png"}));
    EXPECT_EQ(listing.assets.first().url, QUrl::fromLocalFile(album + QStringLiteral("/new.png")).toString());
    EXPECT_TRUE(listing.assets.first().url.startsWith(QLatin1String("file://")));
}

TEST_F(PhotoLibraryTest, TheSeamIsReadAtEachLoadAndAMissingFolderIsAnError)
{
    PhotoLibrary library;
    Listing listing = list(library);
    ASSERT_TRUE(listing.error);
    EXPECT_EQ(listing.error->code(), PhotoLibrary::ErrorFolderMissing);
    EXPECT_FALSE(listing.error->message().isEmpty());
    EXPECT_TRUE(listing.assets.isEmpty());

    addPicture(QStringLiteral("one.png"), 1);
    const QString other = testsupport::testHome() + QStringLiteral("/Other");
    QDir().mkpath(other);
    QFile::copy(album + QStringLiteral("/one.png"), other + QStringLiteral("/two.png"));
    EXPECT_EQ(names(list(library).assets), QStringList{"one.png"});
    qputenv("KORVANE_PHOTO_LIBRARY", other.toUtf8());
    EXPECT_EQ(names(list(library).assets), QStringList{"two.png"});
    EXPECT_EQ(PhotoLibrary::albumPath(), other);

    // The test hook fails the next read alone, as an unreadable folder does.
    PhotoLibrary::failNextReadForTesting();
    listing = list(library);
    ASSERT_TRUE(listing.error);
    EXPECT_EQ(listing.error->code(), PhotoLibrary::ErrorFolderUnreadable);
    EXPECT_FALSE(list(library).error);
}

TEST_F(PhotoLibraryTest, ThumbnailsAreSquaresAndFullScreenPicturesFitWithoutEnlarging)
{
    addPicture(QStringLiteral("wide.png"), 1, QSize(400, 100));
    addPicture(QStringLiteral("small.png"), 2, QSize(30, 20));
    PhotoLibrary library;
    const Listing listing = list(library);
    ASSERT_EQ(listing.assets.size(), 2);

    QImage thumbnail;
    bool done = false;
    library.loadThumbnail(listing.assets.first(), 88, &owner, [&](const QImage& image) {
        done = true;
        thumbnail = image;
    });
    KR_WAIT_UNTIL(done);
    EXPECT_EQ(thumbnail.size(), QSize(88, 88));

    QImage full;
    done = false;
    library.loadFullScreenImage(listing.assets.first().url, QSize(200, 300), &owner, [&](const QImage& image) {
        done = true;
        full = image;
    });
    KR_WAIT_UNTIL(done);
    EXPECT_EQ(full.size(), QSize(200, 50));
    done = false;
    library.loadFullScreenImage(listing.assets.last().url, QSize(200, 300), &owner, [&](const QImage& image) {
        done = true;
        full = image;
    });
    KR_WAIT_UNTIL(done);
    EXPECT_EQ(full.size(), QSize(30, 20));
    // An address that is no file of the album gives no picture.
    done = false;
    library.loadFullScreenImage(QStringLiteral("https://example.invalid/a.png"), QSize(200, 300), &owner, [&](const QImage& image) {
        done = true;
        full = image;
    });
    KR_WAIT_UNTIL(done);
    EXPECT_TRUE(full.isNull());
}

TEST_F(PhotoLibraryTest, SavesWriteANewJPEGEachOrFailCleanly)
{
    PhotoLibrary library;
    QImage picture(64, 48, QImage::Format_ARGB32);
    picture.fill(QColor(200, 30, 30));
    QStringList urls;
    std::optional<platform::Error> error;
    int done = 0;
    auto save = [&] {
        library.saveImage(picture, &owner, [&](const QString& url, const std::optional<platform::Error>& e) {
            ++done;
            urls.append(url);
            error = e;
        });
    };
    save();
    save();
    KR_WAIT_UNTIL(done == 2);
    ASSERT_FALSE(error);
    ASSERT_EQ(urls.size(), 2);
    EXPECT_NE(urls[0], urls[1]);
    for (const QString& url : urls) {
        QImageReader reader(QUrl(url).toLocalFile());
        EXPECT_EQ(reader.format(), QByteArray("jpeg"));
        EXPECT_EQ(reader.size(), QSize(64, 48));
    }
    EXPECT_EQ(QDir(album).entryList(QDir::Files).size(), 2);

    PhotoLibrary::failNextSaveForTesting();
    save();
    KR_WAIT_UNTIL(done == 3);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), PhotoLibrary::ErrorWriteFailed);
    EXPECT_TRUE(urls.last().isEmpty());
    // Nothing half-written is left behind.
    EXPECT_EQ(QDir(album).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(PhotoLibraryTest, NothingReachesAnOwnerThatHasGone)
{
    addPicture(QStringLiteral("one.png"), 1);
    auto library = std::make_unique<PhotoLibrary>();
    auto* gone = new QObject;
    int delivered = 0;
    library->loadAssets(gone, [&](const QList<PhotoAsset>&, const std::optional<platform::Error>&) { ++delivered; });
    library->saveImage(QImage(8, 8, QImage::Format_RGB32), gone, [&](const QString&, const std::optional<platform::Error>&) { ++delivered; });
    delete gone;
    // Destroying the library waits for what runs; what it handed to the main thread comes
    // before a marker posted now.
    library.reset();
    bool marker = false;
    platform::dispatchMain([&] { marker = true; });
    KR_WAIT_UNTIL(marker);
    EXPECT_EQ(delivered, 0);
}

} // namespace
