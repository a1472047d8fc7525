#pragma once

// What the local history's test files share: the store under each test's own home, videos to
// record, the file as the next launch reads it, and what happens in the store's folder.

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyList.h"
#include "model/KRVideo.h"
#include "store/KRLocalHistoryStore.h"

#include <QFile>
#include <QString>
#include <QVariantMap>

#include <memory>

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

namespace localhistory {

inline KRLocalHistoryStore& store() { return KRLocalHistoryStore::sharedStore(); }

// Each test starts from the file under its own home and leaves nothing being written into
// a home that is about to go.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { store().resetForTesting(); }
    void TearDown() override { store().flushPendingSaves(); }
};

inline std::shared_ptr<KRVideo> makeVideo(qint64 aid, qint64 cid)
{
    auto video = std::make_shared<KRVideo>();
    video->setAid(aid);
    video->setCid(cid);
    video->setTitle(QStringLiteral("第%1个视频").arg(aid));
    return video;
}

// The file as the next launch reads it, once every change so far is saved.
inline QVariantMap recordsOnDisk()
{
    store().flushPendingSaves();
    return platform::PropertyList::parse(platform::readFile(store().storePath()).value_or(QByteArray())).toMap();
}

// What happens in a folder from now on, as the kernel tells it (read without waiting, and
// without any lock the writer takes): how many times a file named `name` is put in place, and
// how many of those the writer has finished with, by syncing and closing the folder after it.
class FolderEvents {
public:
    FolderEvents(const QString& folder, QString name)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), m_name(std::move(name))
    {
        inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_MOVED_TO | IN_CLOSE_NOWRITE);
    }
    ~FolderEvents() { ::close(m_fd); }
    FolderEvents(const FolderEvents&) = delete;
    FolderEvents& operator=(const FolderEvents&) = delete;

    int replacements()
    {
        readEvents();
        return m_replacements;
    }
    int finishedReplacements()
    {
        readEvents();
        return m_finished;
    }

private:
    void readEvents()
    {
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if ((event->mask & IN_MOVED_TO) && event->len && QFile::decodeName(event->name) == m_name)
                    ++m_replacements;
                // An event without a name is the folder's own.
                if ((event->mask & IN_CLOSE_NOWRITE) && !event->len)
                    m_finished = m_replacements;
                p += sizeof(inotify_event) + event->len;
            }
        }
    }

    int m_fd;
    QString m_name;
    int m_replacements = 0;
    int m_finished = 0;
};

} // namespace localhistory
