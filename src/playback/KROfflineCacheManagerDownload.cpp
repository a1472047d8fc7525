// The download half of the offline cache: one progressive or DASH download at a time.

#include "playback/KROfflineCacheManager.h"

#include "model/KRConsole.h"
#include "model/KRTolerantValue.h"
#include "platform/foundation/FreeSpace.h"
#include "platform/foundation/ReplyOwner.h"
#include "platform/net/DownloadConnection.h"
#include "playback/KROfflineBatch.h"
#include "service/KRRequestPipeline.h"
#include "store/KRDiagnostics.h"

#include <QFile>
#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <tuple>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 kReservedBytes = 24LL * 1024 * 1024;
constexpr qint64 kUnknownSizeNotificationStep = 512 * 1024;
constexpr qint64 kWriteBackStep = 4 * 1024 * 1024;

std::function<QDateTime()>& clockOverride()
{
    static std::function<QDateTime()> clock;
    return clock;
}

// The pipeline's media-download row decides the request and the headers of every hop.
platform::HTTPRequest mediaRequest(const QString& url)
{
    return KRRequestPipeline::request(KRRequestKind::MediaDownload, url);
}

// "%@" of a record's number, as the platform prints an NSNumber.
QString recordNumber(const KROfflineRecord& record, const QString& key)
{
    return KRConsole::object(record.value(key));
}

bool isHTTPAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace

void KROfflineCacheManager::setClockForTesting(std::function<QDateTime()> clock) { clockOverride() = std::move(clock); }

QDateTime KROfflineCacheManager::now() const
{
    return clockOverride() ? clockOverride()() : QDateTime::currentDateTimeUtc();
}

// ---------------------------------------------------------------------------------------
// Starts

void KROfflineCacheManager::cacheVideo(const std::shared_ptr<KRVideo>& video, const QString& sourceURLString,
                                       const QString& qualityTitle, const QImage& cover, QObject* owner,
                                       ProgressBlock progress, CompletionBlock completion)
{
    cacheVideo(video, sourceURLString.isEmpty() ? QStringList() : QStringList{sourceURLString}, qualityTitle, cover, owner,
               std::move(progress), std::move(completion));
}

bool KROfflineCacheManager::refuseIfBusyOrCached(const KRVideo& video, const QString& key, const CompletionBlock& completion)
{
    if (isVideoCached(video)) {
        if (completion)
            completion(true, QStringLiteral("该分 P 已在离线缓存中"));
        return true;
    }
    if (isDownloading()) {
        if (completion)
            completion(false, key == m_pendingKey ? QStringLiteral("该视频正在缓存") : QStringLiteral("已有一个视频正在缓存，请稍后再试"));
        return true;
    }
    return false;
}

void KROfflineCacheManager::beginDownload(const QString& key, ProgressBlock progress, CompletionBlock completion)
{
    m_pendingKey = key;
    m_progressBlock = std::move(progress);
    m_completionBlock = std::move(completion);
    m_lastReportedPercent = -5;
    m_pendingDASHTransferIndex = 0;
    m_completedDASHBytes = m_knownDASHExpectedBytes = 0;
    m_expectedLength = m_receivedLength = m_lastReportedBytes = 0;
}

void KROfflineCacheManager::cacheVideo(const std::shared_ptr<KRVideo>& video, const QStringList& sources,
                                       const QString& qualityTitle, const QImage& cover, QObject* owner,
                                       ProgressBlock progress, CompletionBlock completion)
{
    progress = platform::ownedBy(owner, std::move(progress));
    completion = platform::ownedBy(owner, std::move(completion));
    const QString key = KROfflineVideoKey(video);
    const QStringList candidates = KROfflineProgressiveCandidates(sources);
    if (key.isEmpty() || candidates.isEmpty()) {
        if (completion)
            completion(false, QStringLiteral("这个视频缺少可缓存的 CID 或播放地址"));
        return;
    }
    if (refuseIfBusyOrCached(*video, key, completion))
        return;

    beginDownload(key, std::move(progress), std::move(completion));
    m_pendingProgressiveURLs = candidates;
    m_pendingProgressiveURLIndex = 0;
    const QString baseName = KROfflineBaseName(key, now().toSecsSinceEpoch());
    const QString finalName = baseName + QStringLiteral(".mp4");
    m_finalPath = cacheDirectory() + QLatin1Char('/') + finalName;
    m_temporaryPath = m_finalPath + QStringLiteral(".part");
    if (!openTemporaryFile(m_temporaryPath)) {
        finishDownloadSuccess(false, QStringLiteral("无法创建离线缓存文件"));
        return;
    }
    m_pendingRecord = pendingRecordForVideo(*video, key, baseName, qualityTitle, cover);
    m_pendingRecord.insert(QStringLiteral("file_name"), finalName);
    if (!startPendingProgressiveTransferAtIndex(0)) {
        finishDownloadSuccess(false, QStringLiteral("无法启动离线缓存请求"));
        return;
    }
    beginBackgroundTask();
    if (m_progressBlock)
        m_progressBlock(0.0f);
    postChangeNotification();
    prefetchDanmakuForCID(video->cid(), key);
}

void KROfflineCacheManager::cacheDASHVideo(const std::shared_ptr<KRVideo>& video, const QString& videoURLString,
                                           const QString& audioURLString, int qualityValue, const QString& qualityTitle,
                                           const QImage& cover, QObject* owner, ProgressBlock progress,
                                           CompletionBlock completion)
{
    progress = platform::ownedBy(owner, std::move(progress));
    completion = platform::ownedBy(owner, std::move(completion));
    const QString key = KROfflineVideoKey(video);
    // Only http and https: a local or foreign scheme is no download address.
    if (key.isEmpty() || !isHTTPAddress(QUrl(videoURLString)) || !isHTTPAddress(QUrl(audioURLString))) {
        if (completion)
            completion(false, QStringLiteral("这个视频缺少可缓存的 DASH 音画地址"));
        return;
    }
    if (refuseIfBusyOrCached(*video, key, completion))
        return;

    beginDownload(key, std::move(progress), std::move(completion));
    const QString baseName = KROfflineBaseName(key, now().toSecsSinceEpoch());
    const QString directory = cacheDirectory() + QLatin1Char('/');
    for (const auto& [role, url, suffix] : {std::tuple{QStringLiteral("video"), videoURLString, QStringLiteral(".video.m4v")},
                                            std::tuple{QStringLiteral("audio"), audioURLString, QStringLiteral(".audio.m4a")}}) {
        DASHTransfer transfer;
        transfer.role = role;
        transfer.url = url;
        transfer.fileName = baseName + suffix;
        transfer.finalPath = directory + transfer.fileName;
        transfer.temporaryPath = transfer.finalPath + QStringLiteral(".part");
        m_pendingDASHTransfers.append(transfer);
    }
    m_pendingRecord = pendingRecordForVideo(*video, key, baseName, qualityTitle, cover);
    m_pendingRecord.insert(QStringLiteral("media_kind"), QStringLiteral("dash"));
    m_pendingRecord.insert(QStringLiteral("dash_video_file_name"), m_pendingDASHTransfers.at(0).fileName);
    m_pendingRecord.insert(QStringLiteral("dash_audio_file_name"), m_pendingDASHTransfers.at(1).fileName);
    m_pendingRecord.insert(QStringLiteral("quality_value"), qint64(qualityValue < 1 ? 80 : qualityValue));

    beginBackgroundTask();
    if (!startPendingDASHTransferAtIndex(0))
        return; // already failed and reported
    if (m_progressBlock)
        m_progressBlock(0.0f);
    postChangeNotification();
    prefetchDanmakuForCID(video->cid(), key);
    KRDiagnostics::recordEvent(QStringLiteral("offline-dash-start"),
                               QStringLiteral("cid=%1 quality=%2 tracks=2").arg(video->cid()).arg(qualityValue));
}

bool KROfflineCacheManager::openTemporaryFile(const QString& temporaryPath)
{
    QFile::remove(temporaryPath);
    m_file = std::make_unique<QFile>(temporaryPath);
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_file.reset();
        return false;
    }
    return true;
}

bool KROfflineCacheManager::sendRequest(const QString& url)
{
    if (!QUrl(url).isValid())
        return false;
    platform::DownloadConnection::Delegate delegate;
    // A redirected request is a copy of the last one; the headers are set again all the same.
    delegate.willSendRequest = [](platform::HTTPRequest& next, const platform::DownloadResponse&) {
        for (const auto& [name, value] : mediaRequest(next.url).headers.all())
            next.headers.set(name, value);
    };
    delegate.didReceiveResponse = [this](const platform::DownloadResponse& response) { didReceiveResponse(response); };
    delegate.didReceiveData = [this](const QByteArray& data) { didReceiveData(data); };
    delegate.didFail = [this](const platform::Error& error) { didFailWithError(error); };
    delegate.didFinishLoading = [this] { didFinishLoading(); };
    m_connection = std::make_unique<platform::DownloadConnection>(mediaRequest(url), std::move(delegate));
    return true;
}

bool KROfflineCacheManager::startPendingProgressiveTransferAtIndex(int index)
{
    if (index < 0 || index >= m_pendingProgressiveURLs.size() || !m_file)
        return false;
    m_pendingProgressiveURLIndex = index;
    m_expectedLength = m_receivedLength = m_lastReportedBytes = m_writeBackStart = 0;
    if (!m_file->resize(0) || !m_file->seek(0))
        return false;
    const QString url = m_pendingProgressiveURLs.at(index);
    if (!sendRequest(url))
        return false;
    const QString quality = m_pendingRecord.value(QStringLiteral("quality_title")).toString();
    const QString attempt = QStringLiteral("%1/%2").arg(index + 1).arg(m_pendingProgressiveURLs.size());
    const QString host = QUrl(url).host();
    KRDiagnostics::recordEvent(QStringLiteral("offline-progressive-start"),
                               QStringLiteral("cid=%1 quality=%2 attempt=%3 host=%4")
                                   .arg(recordNumber(m_pendingRecord, QStringLiteral("cid")), quality, attempt, host));
    KRConsole::log(QStringLiteral("[KorvaneOffline] start key=%1 quality=%2 attempt=%3 host=%4")
                       .arg(m_pendingKey, quality, attempt, host));
    return true;
}

bool KROfflineCacheManager::retryPendingProgressiveTransferWithReason(const QString& reason)
{
    if (!m_pendingDASHTransfers.isEmpty() || m_pendingProgressiveURLs.isEmpty()
        || m_pendingProgressiveURLIndex + 1 >= m_pendingProgressiveURLs.size())
        return false;
    m_connection.reset();
    const int from = m_pendingProgressiveURLIndex;
    KRDiagnostics::recordEvent(QStringLiteral("offline-progressive-retry"),
                               QStringLiteral("cid=%1 from=%2 to=%3 reason=%4")
                                   .arg(recordNumber(m_pendingRecord, QStringLiteral("cid")))
                                   .arg(from + 1)
                                   .arg(from + 2)
                                   .arg(reason.isEmpty() ? QStringLiteral("unknown") : reason));
    if (!startPendingProgressiveTransferAtIndex(from + 1))
        failDownloadWithMessage(QStringLiteral("无法启动备用离线缓存请求"));
    return true;
}

bool KROfflineCacheManager::startPendingDASHTransferAtIndex(int index)
{
    if (index < 0 || index >= m_pendingDASHTransfers.size()) {
        failDownloadWithMessage(QStringLiteral("DASH 缓存轨道索引无效"));
        return false;
    }
    const DASHTransfer& transfer = m_pendingDASHTransfers.at(index);
    if (transfer.url.isEmpty() || transfer.temporaryPath.isEmpty() || transfer.finalPath.isEmpty()) {
        failDownloadWithMessage(QStringLiteral("DASH 缓存轨道信息不完整"));
        return false;
    }
    m_pendingDASHTransferIndex = index;
    m_temporaryPath = transfer.temporaryPath;
    m_finalPath = transfer.finalPath;
    m_expectedLength = m_receivedLength = m_lastReportedBytes = m_writeBackStart = 0;
    if (!openTemporaryFile(m_temporaryPath)) {
        failDownloadWithMessage(QStringLiteral("无法创建 DASH 离线缓存文件"));
        return false;
    }
    if (!sendRequest(transfer.url)) {
        failDownloadWithMessage(QStringLiteral("无法启动 DASH 离线缓存请求"));
        return false;
    }
    KRConsole::log(QStringLiteral("[KorvaneOffline] dash-track-start role=%1 index=%2 url=%3")
                       .arg(transfer.role)
                       .arg(index)
                       .arg(transfer.url));
    return true;
}

// ---------------------------------------------------------------------------------------
// Connection events

void KROfflineCacheManager::didReceiveResponse(const platform::DownloadResponse& response)
{
    if (m_receivedLength > 0 && m_file) {
        m_file->resize(0);
        m_file->seek(0);
        m_receivedLength = m_writeBackStart = 0;
    }
    const int status = response.status > 0 ? response.status : 200;
    const QString mime = response.mimeType.toLower();
    if (status < 200 || status > 299 || mime.startsWith(QLatin1String("text/html"))) {
        if (!retryPendingProgressiveTransferWithReason(QStringLiteral("HTTP %1 mime=%2").arg(status).arg(mime)))
            failDownloadWithMessage(QStringLiteral("缓存地址已失效（HTTP %1）").arg(status));
        return;
    }
    m_expectedLength = response.expectedContentLength >= 1 ? response.expectedContentLength : 0;
    if (!m_pendingDASHTransfers.isEmpty()) {
        DASHTransfer& transfer = m_pendingDASHTransfers[m_pendingDASHTransferIndex];
        m_knownDASHExpectedBytes = std::max<qint64>(0, m_knownDASHExpectedBytes - transfer.announcedBytes);
        transfer.announcedBytes = m_expectedLength;
        m_knownDASHExpectedBytes += m_expectedLength;
    }
    postChangeNotification();
    if (m_expectedLength > 0) {
        const qint64 available = platform::FreeSpace::availableBytes(cacheDirectory());
        if (available > 0 && available < m_expectedLength + kReservedBytes) {
            failDownloadWithMessage(QStringLiteral("剩余空间不足，请至少保留 24 MB 系统空间"));
            return;
        }
    }
    KRConsole::log(QStringLiteral("[KorvaneOffline] response status=%1 mime=%2 expected=%3")
                       .arg(status)
                       .arg(KRConsole::object(mime.isEmpty() ? QString() : mime))
                       .arg(m_expectedLength));
}

void KROfflineCacheManager::didReceiveData(const QByteArray& data)
{
    if (data.isEmpty() || !m_file)
        return;
    if (m_file->write(data) != data.size()) {
        failDownloadWithMessage(QStringLiteral("写入缓存失败：%1").arg(m_file->errorString()));
        return;
    }
    m_receivedLength += data.size();
    // Starts write-back as the file grows, so the sync before the rename has little left to do.
    if (m_receivedLength - m_writeBackStart >= kWriteBackStep && m_file->flush()) {
        ::sync_file_range(m_file->handle(), m_writeBackStart, m_receivedLength - m_writeBackStart, SYNC_FILE_RANGE_WRITE);
        m_writeBackStart = m_receivedLength;
    }
    if (m_expectedLength <= 0) {
        if (m_receivedLength - m_lastReportedBytes >= kUnknownSizeNotificationStep) {
            m_lastReportedBytes = m_receivedLength;
            postChangeNotification();
        }
        return;
    }
    const float progress = currentDownloadProgress();
    const int percent = int(std::min(100.0f * progress, 100.0f));
    if (percent < m_lastReportedPercent + 5 && percent != 100)
        return;
    m_lastReportedPercent = percent;
    // 1.0 is reported by the commit alone, once the record is safely in the index.
    if (m_progressBlock && progress < 1.0f)
        m_progressBlock(progress);
    postChangeNotification();
}

void KROfflineCacheManager::didFailWithError(const platform::Error& error)
{
    if (!retryPendingProgressiveTransferWithReason(
            QStringLiteral("domain=%1 code=%2").arg(error.domain()).arg(error.code())))
        failDownloadWithMessage(QStringLiteral("离线缓存失败：%1").arg(error.message()));
}

void KROfflineCacheManager::didFinishLoading()
{
    if (m_receivedLength == 0) {
        if (!retryPendingProgressiveTransferWithReason(QStringLiteral("empty-response")))
            failDownloadWithMessage(QStringLiteral("服务器没有返回可缓存的视频数据"));
        return;
    }
    if (m_expectedLength > 0 && m_receivedLength < m_expectedLength) {
        if (!retryPendingProgressiveTransferWithReason(
                QStringLiteral("truncated received=%1 expected=%2").arg(m_receivedLength).arg(m_expectedLength)))
            failDownloadWithMessage(QStringLiteral("缓存数据不完整，请稍后重试"));
        return;
    }
    // On disk before it is named: a crash after the rename must not leave a short file.
    const bool flushed = m_file->flush() && ::fsync(m_file->handle()) == 0;
    const QString flushError = m_file->errorString();
    m_file->close();
    m_file.reset();
    if (!flushed) {
        failDownloadWithMessage(QStringLiteral("完成缓存写入失败：%1").arg(flushError));
        return;
    }
    QFile::remove(m_finalPath);
    QFile moved(m_temporaryPath);
    if (!moved.rename(m_finalPath)) {
        failDownloadWithMessage(QStringLiteral("保存离线视频失败：%1").arg(moved.errorString()));
        return;
    }
    if (m_pendingDASHTransfers.isEmpty()) {
        QString writeError;
        if (!commitPendingRecordWithByteCount(m_receivedLength, &writeError)) {
            abandonCommittedFiles(writeError);
            return;
        }
        const QString attempt = QStringLiteral("%1/%2").arg(m_pendingProgressiveURLIndex + 1).arg(m_pendingProgressiveURLs.size());
        KRDiagnostics::recordEvent(QStringLiteral("offline-progressive-complete"),
                                   QStringLiteral("cid=%1 bytes=%2 attempt=%3")
                                       .arg(recordNumber(m_pendingRecord, QStringLiteral("cid")))
                                       .arg(m_receivedLength)
                                       .arg(attempt));
        KRConsole::log(QStringLiteral("[KorvaneOffline] finish key=%1 bytes=%2 file=%3")
                           .arg(m_pendingKey)
                           .arg(m_receivedLength)
                           .arg(m_pendingRecord.value(QStringLiteral("file_name")).toString()));
        finishDownloadSuccess(true, QStringLiteral("已缓存到“我的 → 离线缓存”"));
        return;
    }
    finishTrack();
}

void KROfflineCacheManager::finishTrack()
{
    const DASHTransfer& transfer = m_pendingDASHTransfers.at(m_pendingDASHTransferIndex);
    m_pendingRecord.insert(transfer.role == QLatin1String("audio") ? QStringLiteral("dash_audio_byte_count")
                                                                   : QStringLiteral("dash_video_byte_count"),
                           m_receivedLength);
    m_completedDASHBytes += m_receivedLength;
    KRDiagnostics::recordEvent(QStringLiteral("offline-dash-track-complete"),
                               QStringLiteral("role=%1 bytes=%2").arg(transfer.role).arg(m_receivedLength));
    m_connection.reset();
    m_temporaryPath.clear();
    m_finalPath.clear();
    m_expectedLength = m_receivedLength = 0;
    if (m_pendingDASHTransferIndex + 1 < m_pendingDASHTransfers.size()) {
        startPendingDASHTransferAtIndex(m_pendingDASHTransferIndex + 1);
        return;
    }
    QString writeError;
    if (!commitPendingRecordWithByteCount(m_completedDASHBytes, &writeError)) {
        abandonCommittedFiles(writeError);
        return;
    }
    KRDiagnostics::recordEvent(QStringLiteral("offline-dash-complete"),
                               QStringLiteral("cid=%1 bytes=%2")
                                   .arg(recordNumber(m_pendingRecord, QStringLiteral("cid")))
                                   .arg(m_completedDASHBytes));
    finishDownloadSuccess(true, QStringLiteral("1080P 音画双轨已缓存到“我的 → 离线缓存”"));
}

void KROfflineCacheManager::abandonCommittedFiles(const QString& writeError)
{
    // The index never learnt of these files; kept, they would be space nobody can reclaim.
    const QString directory = cacheDirectory() + QLatin1Char('/');
    for (const char* key : {"file_name", "cover_file_name"}) {
        const QString name = m_pendingRecord.value(QLatin1String(key)).toString();
        if (KROfflineIsPlainFileName(name))
            QFile::remove(directory + name);
    }
    failDownloadWithMessage(QStringLiteral("保存离线视频失败：%1").arg(writeError));
}

// ---------------------------------------------------------------------------------------
// Ends

void KROfflineCacheManager::failDownloadWithMessage(const QString& message)
{
    KRConsole::log(QStringLiteral("[KorvaneOffline] fail key=%1 received=%2 message=%3")
                       .arg(KRConsole::object(m_pendingKey))
                       .arg(currentDownloadReceivedBytes())
                       .arg(KRConsole::object(message)));
    KRDiagnostics::recordEvent(QStringLiteral("offline-download-failed"),
                               QStringLiteral("cid=%1 dash=%2 received=%3 message=%4")
                                   .arg(recordNumber(m_pendingRecord, QStringLiteral("cid")))
                                   .arg(KRConsole::boolean(!m_pendingDASHTransfers.isEmpty()))
                                   .arg(currentDownloadReceivedBytes())
                                   .arg(message.isNull() ? QStringLiteral("") : message));
    finishDownloadSuccess(false, message);
}

void KROfflineCacheManager::finishDownloadSuccess(bool success, const QString& message)
{
    CompletionBlock completion = std::move(m_completionBlock);
    m_completionBlock = nullptr;
    m_connection.reset();
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
    if (!success) {
        if (!m_pendingDASHTransfers.isEmpty())
            removePendingDASHFiles();
        else if (!m_temporaryPath.isEmpty())
            QFile::remove(m_temporaryPath);
    }
    m_pendingRecord.clear();
    m_pendingKey.clear();
    m_temporaryPath.clear();
    m_finalPath.clear();
    m_pendingProgressiveURLs.clear();
    m_pendingProgressiveURLIndex = 0;
    m_pendingDASHTransfers.clear();
    m_pendingDASHTransferIndex = 0;
    m_coverData.clear();
    m_progressBlock = nullptr;
    m_completedDASHBytes = m_knownDASHExpectedBytes = 0;
    m_expectedLength = m_receivedLength = m_lastReportedBytes = 0;
    m_lastReportedPercent = -5;
    endBackgroundTask();
    postChangeNotification();
    if (completion)
        completion(success, message.isNull() ? (success ? QStringLiteral("缓存完成") : QStringLiteral("缓存失败")) : message);
}

void KROfflineCacheManager::cancelCurrentDownload()
{
    if (isDownloading())
        finishDownloadSuccess(false, QStringLiteral("离线缓存已取消"));
}

bool KROfflineCacheManager::runBatch(std::unique_ptr<KROfflineBatch> batch)
{
    if (!batch || m_batch)
        return false;
    m_batch = std::move(batch);
    KROfflineBatch* running = m_batch.get();
    // It ends inside its own call: it goes once that call is over.
    connect(running, &KROfflineBatch::ended, this, [this, running] {
        if (m_batch.get() == running)
            m_batch.release()->deleteLater();
    });
    running->start();
    return true;
}

void KROfflineCacheManager::beginBackgroundTask()
{
    endBackgroundTask();
    QPointer<KROfflineCacheManager> self(this);
    m_backgroundTask = platform::BackgroundTask::begin(QStringLiteral("KorvaneOfflineDownload"), [self] {
        if (self)
            self->cancelCurrentDownload();
    });
}

void KROfflineCacheManager::endBackgroundTask()
{
    if (m_backgroundTask != platform::BackgroundTask::invalid)
        platform::BackgroundTask::end(m_backgroundTask);
    m_backgroundTask = platform::BackgroundTask::invalid;
}

// ---------------------------------------------------------------------------------------
// Progress

float KROfflineCacheManager::currentDownloadProgress() const
{
    if (!isDownloading())
        return 0;
    return KROfflineDownloadProgress(!m_pendingDASHTransfers.isEmpty(), m_pendingDASHTransferIndex, m_receivedLength,
                                     m_expectedLength);
}

qint64 KROfflineCacheManager::currentDownloadReceivedBytes() const
{
    return isDownloading() ? m_receivedLength + m_completedDASHBytes : 0;
}

qint64 KROfflineCacheManager::currentDownloadExpectedBytes() const
{
    if (!isDownloading())
        return 0;
    return m_pendingDASHTransfers.isEmpty() ? m_expectedLength : m_knownDASHExpectedBytes;
}
