#pragma once

#include "OfflineTesting.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MediaNotifications.h"
#include "platform/media/MediaSeams.h"

#include <QStringList>

namespace playbacktest {

// Every name a transport posts under.
inline const QStringList kAllNames = {platform::media::MoviePlayerLoadStateDidChangeNotification,
                                      platform::media::MoviePlayerPlaybackStateDidChangeNotification,
                                      platform::media::MoviePlayerPlaybackDidFinishNotification,
                                      platform::media::MoviePlayerReadyForDisplayDidChangeNotification};

using offlinetest::diagnosticsLog;
namespace fixtures = testsupport::MediaFixtures;

// Every notification of the given names from one sender, in order.
class NotificationLog {
public:
    NotificationLog(const void* sender, const QStringList& watched)
    {
        for (const QString& name : watched) {
            m_tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, sender, [this](const platform::Notification& n) {
                    names.append(n.name);
                    infos.append(n.userInfo);
                    if (onPost)
                        onPost(n);
                }));
        }
    }
    int count(const QString& name) const { return int(names.count(name)); }
    QVariantMap lastInfo(const QString& name) const
    {
        for (qsizetype i = names.size() - 1; i >= 0; --i) {
            if (names[i] == name)
                return infos[i];
        }
        return {};
    }

    QStringList names;
    QList<QVariantMap> infos;
    std::function<void(const platform::Notification&)> onPost;

private:
    std::vector<platform::ObserverToken> m_tokens;
};

// Players make no sound in tests.
class PlaybackMediaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
        // The log follows this test's fresh home.
        KRDiagnostics::resetForTesting();
    }
};

inline int countOf(const QString& text, const QString& needle)
{
    return int(text.count(needle));
}

} // namespace playbacktest
