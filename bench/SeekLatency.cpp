// Seek latency of the player: from the release of the playbar's thumb to the new picture
// painted in the display area, on the real main window.
//
//   bench_seek RECORDING [SEEKS]
//
// Opens the recording, plays a second, pauses, then drops the thumb SEEKS times (default 40)
// at places spread over the recording in a shuffled order, each time pressing a few pixels
// away and releasing on the target. Prints the median, p90 and maximum in ms. Run it on a
// real X server (xvfb-run) or Qt's offscreen platform; sound is off.

#include "SkinSlider.h"
#include "UnitMain.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

using namespace qrv;

namespace {

void SendMouse(TSkinSlider& slider, QEvent::Type type, int x)
{
    const QPointF at(x, slider.height() / 2.0);
    QMouseEvent e(type, at, slider.mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&slider, &e);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("usage: bench_seek RECORDING [SEEKS]\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    const int seeks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 40;

    TfrmBrisaMain window;
    window.SoundOutputExists = [] { return false; };
    window.MessageBox = [](QWidget*, const QString& text, const QString&, unsigned) {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
        return 1;
    };
    window.show();
    QTest::qWait(200);
    window.OpenRecording(argv[1]);
    if (!window.IsFileOpen())
        return 1;
    window.Play();
    QTest::qWait(1000);
    window.Pause();
    QTest::qWait(100);

    TSkinSlider& bar = *window.sldPlaybar;
    std::vector<int> targets(static_cast<size_t>(seeks));
    for (int i = 0; i < seeks; ++i)
        targets[static_cast<size_t>(i)] = static_cast<int>((i + 0.5) * bar.Max() / seeks);
    std::shuffle(targets.begin(), targets.end(), std::mt19937(12345));

    std::vector<double> ms;
    for (int index : targets) {
        const int x = bar.ThumbCentre(index);
        SendMouse(bar, QEvent::MouseButtonPress, x > 10 ? x - 6 : x + 6);
        QApplication::processEvents();
        const auto start = std::chrono::steady_clock::now();
        SendMouse(bar, QEvent::MouseButtonRelease, x);
        const uint64_t picture = window.pnlDisp->PicturesShown();
        while (window.pnlDisp->PicturesPainted() < picture)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        QTest::qWait(20);
    }
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<size_t>(q * (ms.size() - 1) + 0.5))]; };
    std::printf("seeks %zu  median %.1f ms  p90 %.1f ms  max %.1f ms  mean %.1f ms\n", ms.size(), at(0.5), at(0.9),
                ms.back(), std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size()));
    return 0;
}
