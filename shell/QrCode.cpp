#include "shell/QrCode.h"

#include <qrencode.h>

#include <memory>

namespace {

struct QrcodeFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

} // namespace

std::optional<TQrCode> TQrCode::Encode(const QByteArray& text) {
    if (text.isEmpty())
        return std::nullopt;
    // Level M: a symbol read off a screen survives glare and a little blur, and a URL still fits
    // a small symbol. Byte mode keeps the text exactly as given, letter case included.
    const std::unique_ptr<QRcode, QrcodeFree> code(
        QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M));
    if (!code)
        return std::nullopt;
    const int size = code->width;
    std::vector<bool> modules(static_cast<size_t>(size * size));
    for (size_t i = 0; i < modules.size(); ++i)
        modules[i] = (code->data[i] & 1) != 0; // the other bits describe how the module was made
    return TQrCode(size, std::move(modules));
}

QImage TQrCode::ToImage(int scale) const {
    const int side = size_ + 2 * kQuietZone;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    for (int y = 0; y < size_; ++y)
        for (int x = 0; x < size_; ++x)
            if (Dark(x, y))
                image.setPixel(x + kQuietZone, y + kQuietZone, qRgb(0, 0, 0));
    return image.scaled(side * scale, side * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}
