// The captcha page's costs beside the bare operations they are built on, in the same run:
// - filling the page template with 1 MiB of scripts and a 4 KiB risk JSON vs. concatenating
//   the same parts;
// - the QR code image of a 108-byte login address at 236 points vs. the bare encoder.

#include "BenchSupport.h"
#include "login/KRGaiaVerificationViewController.h"
#include "login/KRQRCodeImage.h"

#include <QImage>

#include <qrcodegen.hpp>

#include <benchmark/benchmark.h>

namespace {

constexpr int kRounds = 40;

QString filler(QChar c, int length) { return QString(length, c); }

void BM_PageTemplateVersusConcatenation(benchmark::State& state)
{
    // Scripts of 1 MiB together (UTF-16 code units of one byte each in UTF-8).
    const QString polyfills = filler(QLatin1Char('p'), 64 * 1024);
    const QString fingerprint = filler(QLatin1Char('f'), 64 * 1024);
    const QString logic = filler(QLatin1Char('l'), 640 * 1024);
    const QString source = filler(QLatin1Char('s'), 256 * 1024);
    const QString risk = QStringLiteral("{\"v_voucher\":\"") + filler(QLatin1Char('v'), 4 * 1024 - 16) + QStringLiteral("\"}");
    const QString configuration = QStringLiteral("{\"logic\":\"https://static.example/a.js\"}");
    std::vector<double> ratios;
    qsizetype sink = 0;
    for (auto _ : state) {
        const double bare = benchsupport::microsecondsPerCall(
            [&] {
                QString page;
                page += polyfills;
                page += fingerprint;
                page += logic;
                page += source;
                page += risk;
                page += configuration;
                sink += page.size();
            },
            kRounds);
        const double filled = benchsupport::microsecondsPerCall(
            [&] { sink += KRGaiaVerificationDocument(polyfills, fingerprint, logic, source, risk, configuration).size(); },
            kRounds);
        ratios.push_back(filled / bare);
    }
    benchmark::DoNotOptimize(sink);
    state.counters["ratio"] = benchsupport::median(ratios);
}
BENCHMARK(BM_PageTemplateVersusConcatenation)->Unit(benchmark::kMillisecond)->Iterations(9);

void BM_QRCodeImageVersusBareEncoder(benchmark::State& state)
{
    const QString address = QStringLiteral("https://passport.zantorel.test/x/passport-tv-login/h5/qrcode/auth?auth_code=")
                            + QString(32, QLatin1Char('a'));
    const QByteArray utf8 = address.toUtf8();
    if (utf8.size() != 108) {
        state.SkipWithError("the address is not 108 bytes");
        return;
    }
    std::vector<double> ratios;
    int sink = 0;
    for (auto _ : state) {
        const double bare = benchsupport::microsecondsPerCall(
            [&] { sink += qrcodegen::QrCode::encodeText(utf8.constData(), qrcodegen::QrCode::Ecc::MEDIUM).getSize(); },
            kRounds * 5);
        const double drawn = benchsupport::microsecondsPerCall([&] { sink += KRQRCodeImageFromString(address, 236).width(); },
                                                               kRounds * 5);
        ratios.push_back(drawn / bare);
    }
    benchmark::DoNotOptimize(sink);
    state.counters["ratio"] = benchsupport::median(ratios);
}
BENCHMARK(BM_QRCodeImageVersusBareEncoder)->Unit(benchmark::kMillisecond)->Iterations(9);

} // namespace

int main(int argc, char** argv) { return benchsupport::runBenchmarks(argc, argv, benchsupport::MainSetup().quietConsole()); }
