#include "shell/TrayStateIcons.h"

#include "shell/RxTray.h"

#include <QImage>
#include <QPixmap>

#include <array>

namespace {

// How much of each pixel's coverage the greyed copy keeps: faint beside the other tray icons.
constexpr int kKeptAlphaPercent = 55;

QImage greyed(const QImage& source) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = line[x];
            // Lightened towards white as well as greyed: a dark panel still shows it.
            const int grey = 96 + qGray(pixel) * 5 / 8;
            line[x] = qRgba(grey, grey, grey, qAlpha(pixel) * kKeptAlphaPercent / 100);
        }
    }
    return image;
}

} // namespace

QIcon GreyedIcon(const QIcon& icon) {
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        for (const int side : std::array{16, 32, 48})
            sizes.append(QSize(side, side));
    QIcon result;
    for (const QSize& size : sizes) {
        const QPixmap pixmap = icon.pixmap(size);
        if (!pixmap.isNull())
            result.addPixmap(QPixmap::fromImage(greyed(pixmap.toImage())));
    }
    return result;
}

TTrayStateIcons::TTrayStateIcons(TRxTray& tray, const QIcon& listening)
    : tray_(tray), listening_(listening), stopped_(GreyedIcon(listening)) {}

// Every state the listener passes through while not listening asks for the stopped picture: the
// entry changes only when the picture does.
void TTrayStateIcons::show(const QIcon& icon) {
    if (tray_.Icon().cacheKey() != icon.cacheKey())
        tray_.SetIcon(icon);
}
