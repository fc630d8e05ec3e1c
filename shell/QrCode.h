#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>
#include <vector>

// A QR code symbol: a square of dark and light modules, as a phone's camera reads it.
class TQrCode {
public:
    // Scanners find the symbol's edges by a light border of this many modules around it.
    static constexpr int kQuietZone = 4;

    // The symbol holding `text` byte for byte; nothing when the text is empty or too long.
    static std::optional<TQrCode> Encode(const QByteArray& text);

    // Modules per side.
    int Size() const { return size_; }
    bool Dark(int x, int y) const { return modules_[static_cast<size_t>(y * size_ + x)]; }

    // Black on white, `scale` pixels per module, with the quiet zone. Scaled without smoothing,
    // so that every module stays a sharp square that a camera can tell from its neighbours.
    QImage ToImage(int scale) const;

private:
    TQrCode(int size, std::vector<bool> modules) : size_(size), modules_(std::move(modules)) {}

    int size_ = 0;
    std::vector<bool> modules_;
};
