#include "store/LocalHistorySupport.h"
#include "support/TestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace localhistory;

namespace {

class LocalHistorySaves : public StoreTest {};

} // namespace

// A save's worker reads the records as it encodes them, then lets its copy of them go. Each
// change here comes just after the save before it has finished, so that it meets the records
// once the worker has let go of them; under ThreadSanitizer, a change written into records the
// worker read, with nothing ordering the two, stops the run.
TEST_F(LocalHistorySaves, AChangeAfterASaveWritesNothingTheSaveRead)
{
    store().recordVideo(makeVideo(1, 1), 1, 10, false, false);
    store().flushPendingSaves();
    FolderEvents events(QFileInfo(store().storePath()).path(), u"LocalHistory.plist"_s);
    constexpr int kSaves = 40;
    for (int i = 1; i <= kSaves; ++i) {
        // A record added, then one replaced, in turn; one save each.
        store().recordVideo(makeVideo(i % 2 ? i + 1 : 1, 1), i, 1000, false, false);
        ASSERT_TRUE(testsupport::waitUntil([&] { return events.finishedReplacements() >= i; })) << i;
        ASSERT_EQ(events.replacements(), i);
    }
    const QVariantMap onDisk = recordsOnDisk();
    EXPECT_EQ(onDisk.size(), 1 + kSaves / 2);
    EXPECT_EQ(onDisk.value(u"aid:1|cid:1"_s).toMap().value(u"history_progress"_s), double(kSaves));
}
