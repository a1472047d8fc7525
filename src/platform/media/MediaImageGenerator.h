#pragma once

#include <QImage>
#include <QUrl>

namespace platform::media {

// Pictures of one media address, as the phone's asset image generator makes them: each from
// an engine core of its own that opens the address, decodes the picture at the time asked for
// (turned as the file says) and closes again. Unlike every other request to the engine this
// one waits for its answer, as the phone's does, for at most `timeout` seconds.
class MediaImageGenerator {
public:
    explicit MediaImageGenerator(const QUrl& url) : m_url(url) {}

    // With both tolerances zero the picture is the one shown at exactly the time asked for;
    // otherwise the key frame at or before it, which is quicker to reach.
    bool hasZeroTolerance() const { return m_zeroTolerance; }
    void setZeroTolerance(bool zero) { m_zeroTolerance = zero; }
    double timeout() const { return m_timeout; }
    void setTimeout(double seconds) { m_timeout = seconds; }

    // The picture at `seconds`, at the size the file shows it. Null for a time below 0, past the
    // end or not a number, for an address without a picture or that does not open, and when the
    // time runs out.
    QImage copyImageAtTime(double seconds) const;

private:
    QUrl m_url;
    bool m_zeroTolerance = false;
    double m_timeout = 10;
};

} // namespace platform::media
