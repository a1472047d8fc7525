// Offline downloads against a server whose answers come from the input: statuses, redirects
// within the server, right, missing and wrong lengths, bodies cut short; progressive (with
// candidate addresses from the input) or DASH. The download ends with one completion; a
// success leaves a record whose media files are there, a failure leaves no record, no
// ".part" and no file of its own; nothing outside the store is touched.
#include "FuzzApplication.h"
#include "FuzzInput.h"

#include "platform/foundation/Directories.h"
#include "platform/net/NetworkSeams.h"
#include "playback/KROfflineCacheManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Answer {
    QByteArray head;
    QByteArray body;
};

// A one-thread HTTP/1.0 server on loopback giving its answers in turn, one per connection,
// then 404s; it reads each request's head before answering.
class AnswerServer {
public:
    explicit AnswerServer(std::vector<Answer> answers)
        : m_answers(std::move(answers))
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_socket, 8) != 0
            || ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            fuzz::fail("the answer server listens");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~AnswerServer()
    {
        m_stopping = true;
        ::shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        ::close(m_socket);
    }
    int port() const { return m_port; }

private:
    void serve()
    {
        for (size_t next = 0; !m_stopping; ++next) {
            const int connection = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                return;
            QByteArray request;
            char buffer[1024];
            while (!request.contains("\r\n\r\n") && request.size() < 65536) {
                const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
                if (got <= 0)
                    break;
                request.append(buffer, qsizetype(got));
            }
            const Answer answer = next < m_answers.size() ? m_answers[next] : Answer{"HTTP/1.0 404 Not Found\r\n", {}};
            const QByteArray reply = answer.head + "Connection: close\r\n\r\n" + answer.body;
            for (qsizetype sent = 0; sent < reply.size();) {
                const ssize_t wrote = ::send(connection, reply.constData() + sent, size_t(reply.size() - sent), MSG_NOSIGNAL);
                if (wrote <= 0)
                    break;
                sent += wrote;
            }
            ::close(connection);
        }
    }

    std::vector<Answer> m_answers;
    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

Answer answerFrom(fuzz::InputReader& input)
{
    static const int statuses[] = {200, 200, 206, 302, 404, 500, 204, 301};
    const uint8_t shape = input.byte();
    const int status = statuses[shape % 8];
    Answer answer;
    answer.body = input.chunk(200);
    answer.head = "HTTP/1.0 " + QByteArray::number(status) + " X\r\n";
    switch ((shape >> 3) % 4) {
    case 0:
        answer.head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
        break;
    case 1:
        break; // read to the end
    case 2:
        answer.head += "Content-Length: " + QByteArray::number(answer.body.size() + 1 + input.byte()) + "\r\n";
        break;
    default:
        answer.head += "Content-Length: " + QByteArray::number(answer.body.size() / 2) + "\r\n";
        break;
    }
    if (status == 301 || status == 302)
        answer.head += "Location: /next-" + QByteArray::number(input.byte()) + "\r\n";
    if (shape & 0x80)
        answer.head += "Content-Type: video/mp4\r\n";
    return answer;
}

QString store() { return platform::Directories::documents() + QStringLiteral("/KorvaneOffline"); }

// The store's files of this download: its media and covers, finished or not.
QStringList filesOfOurs()
{
    QStringList found;
    for (const QString& name : QDir(store()).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name != QLatin1String("index.plist"))
            found.append(name);
    }
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::application();
    // Every host but loopback fails at once: the danmaku prefetch never leaves the machine.
    static const bool fenced = (platform::NetworkSeams::setConnectTo({QStringLiteral("fence.invalid:1:127.0.0.1:1")}), true);
    (void)fenced;
    KROfflineCacheManager::resetForTesting();
    QDir(store()).removeRecursively();
    const QString outside = platform::Directories::documents() + QStringLiteral("/outside.txt");
    {
        QFile file(outside);
        file.open(QIODevice::WriteOnly);
    }

    fuzz::InputReader input(data, size);
    const uint8_t mode = input.byte();
    std::vector<Answer> answers;
    for (int count = 1 + input.byte() % 4; count > 0; --count)
        answers.push_back(answerFrom(input));
    // Another address of the input's choosing, never one that could reach a real server
    // (loopback ports other than this one's included).
    const uint8_t pick = input.byte();
    const QString text = QString::fromUtf8(input.chunk(48));
    const QString others[] = {QString(), QStringLiteral("ftp://elsewhere.invalid/v.mp4"), QStringLiteral("file:///etc/passwd"),
                              QStringLiteral("javascript:1"), text.left(0),
                              QStringLiteral("http://elsewhere.invalid/") + QString::fromLatin1(QUrl::toPercentEncoding(text))};
    const QString extra = others[pick % std::size(others)];
    const QString title = QString::fromUtf8(input.chunk(24));
    const QImage cover = (mode & 4) ? QImage(8, 6, QImage::Format_RGB32) : QImage();

    AnswerServer server(answers);
    const QString root = QStringLiteral("http://127.0.0.1:%1/").arg(server.port());
    auto video = std::make_shared<KRVideo>();
    video->setBvid(QStringLiteral("BV1download"));
    video->setCid(7);
    video->setTitle(title);

    int completions = 0;
    bool succeeded = false;
    KROfflineCacheManager* manager = KROfflineCacheManager::sharedManager();
    auto completion = [&](bool success, const QString&) {
        ++completions;
        succeeded = success;
    };
    const bool dash = mode & 1;
    if (dash) {
        manager->cacheDASHVideo(video, root + QStringLiteral("video.m4s"), (mode & 2) ? extra : root + QStringLiteral("audio.m4s"),
                                80, QStringLiteral("1080P"), cover, nullptr, nullptr, completion);
    } else {
        // The input's address first when it is one, then the server.
        manager->cacheVideo(video, {extra, root + QStringLiteral("v.mp4")}, QStringLiteral("1080P"), cover, nullptr, nullptr, completion);
    }
    if (!fuzz::runUntil([&] { return completions > 0; }))
        fuzz::fail("a download ends");

    fuzz::check(completions == 1, "one completion");
    fuzz::check(QFileInfo::exists(outside), "nothing outside the store is touched");
    fuzz::check(!manager->isDownloading(), "nothing runs after the completion");
    for (const QString& name : filesOfOurs())
        fuzz::check(!name.endsWith(QLatin1String(".part")), "no partial file stays");
    const KROfflineRecord record = manager->recordForKey(KROfflineVideoKey(video));
    if (!succeeded) {
        fuzz::check(record.isEmpty(), "a failed download commits no record");
        fuzz::check(filesOfOurs().isEmpty(), "a failed download leaves no file");
    } else {
        fuzz::check(manager->isVideoCached(*video), "a finished download is cached");
        const QStringList names = dash ? QStringList{record.value(QStringLiteral("dash_video_file_name")).toString(),
                                                     record.value(QStringLiteral("dash_audio_file_name")).toString()}
                                       : QStringList{record.value(QStringLiteral("file_name")).toString()};
        for (const QString& name : names)
            fuzz::check(KROfflineIsPlainFileName(name) && QFileInfo(store() + u'/' + name).isFile(), "its media are there");
    }
    KROfflineCacheManager::resetForTesting();
    fuzz::check(completions == 1, "still one completion once the manager goes");
    return 0;
}
