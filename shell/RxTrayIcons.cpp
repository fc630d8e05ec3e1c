#include "shell/RxTrayIcons.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

#include <algorithm>

namespace {

// The icon file format cannot describe an image wider or higher than this.
constexpr int kMaxIcoSide = 256;
constexpr int kIcoHeaderSize = 6;
constexpr int kIcoEntrySize = 16;

void appendInt32(QByteArray& out, int32_t value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// Reads the stored form front to back; every read checks that the bytes are there.
class Reader {
public:
    explicit Reader(const QByteArray& data) : data_(data) {}
    int32_t Int32() {
        need(4);
        const auto value = qFromLittleEndian<int32_t>(data_.constData() + pos_);
        pos_ += 4;
        return value;
    }
    QByteArray Bytes(int32_t size) {
        need(size);
        const QByteArray bytes = data_.mid(pos_, size);
        pos_ += size;
        return bytes;
    }
    qsizetype Left() const { return data_.size() - pos_; }

private:
    void need(qsizetype size) const {
        if (size < 0 || size > Left())
            throw EIconListError("The icon list is cut short");
    }
    const QByteArray& data_;
    qsizetype pos_ = 0;
};

QByteArray pngOf(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QList<QImage> imagesOf(const QIcon& icon) {
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        sizes.append(QSize(32, 32)); // a scalable icon: store the size a tray shows
    QList<QImage> images;
    for (const QSize& size : sizes) {
        QImage image = icon.pixmap(size, 1.0).toImage();
        if (image.width() > kMaxIcoSide || image.height() > kMaxIcoSide)
            image = image.scaled(kMaxIcoSide, kMaxIcoSide, Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation);
        const bool seen = std::any_of(images.begin(), images.end(),
                                      [&](const QImage& i) { return i.size() == image.size(); });
        if (!image.isNull() && !seen)
            images.append(image);
    }
    return images;
}

QIcon resourceIcon(const QString& name) {
    QIcon icon;
    if (QFile::exists(name))
        icon = QIcon(name);
    if (icon.isNull())
        throw EIconListError(QStringLiteral("Icon resource %1 not found").arg(name).toStdString());
    return icon;
}

} // namespace

QByteArray IconToIco(const QIcon& icon) {
    const QList<QImage> images = imagesOf(icon);
    if (images.isEmpty())
        return {};
    QByteArray header(kIcoHeaderSize, '\0');
    qToLittleEndian<uint16_t>(1, header.data() + 2); // type: icon
    qToLittleEndian<uint16_t>(images.size(), header.data() + 4);
    QByteArray directory;
    QByteArray body;
    auto offset = static_cast<uint32_t>(kIcoHeaderSize + kIcoEntrySize * images.size());
    for (const QImage& image : images) {
        const QByteArray png = pngOf(image);
        QByteArray entry(kIcoEntrySize, '\0');
        entry[0] = static_cast<char>(image.width() & 0xFF); // 0 stands for 256
        entry[1] = static_cast<char>(image.height() & 0xFF);
        qToLittleEndian<uint16_t>(1, entry.data() + 4);  // colour planes
        qToLittleEndian<uint16_t>(32, entry.data() + 6); // bits per pixel
        qToLittleEndian<uint32_t>(png.size(), entry.data() + 8);
        qToLittleEndian<uint32_t>(offset, entry.data() + 12);
        offset += png.size();
        directory += entry;
        body += png;
    }
    return header + directory + body;
}

QIcon IconFromIco(const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QIcon icon;
    const int count = reader.imageCount();
    for (int i = 0; i < count; ++i) {
        if (!reader.jumpToImage(i))
            break;
        const QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

TIconList::~TIconList() {
    OnChange = nullptr;
}

const QIcon* TIconList::Items(int index) const {
    checkIndex(index, Count() - 1);
    return items_[index].get();
}

void TIconList::SetItems(int index, const QIcon& icon) {
    checkIndex(index, Count());
    if (index == Count())
        items_.push_back(std::make_unique<QIcon>(icon));
    else if (!items_[index])
        items_[index] = std::make_unique<QIcon>(icon);
    else
        *items_[index] = icon;
    changed();
}

int TIconList::Add(const QIcon* icon) {
    items_.push_back(std::make_unique<QIcon>(icon ? *icon : QIcon()));
    changed();
    return Count() - 1;
}

int TIconList::AddResource(const QString& name) {
    return Add(resourceIcon(name));
}

void TIconList::Insert(int index, const QIcon& icon) {
    checkIndex(index, Count());
    items_.insert(items_.begin() + index, std::make_unique<QIcon>(icon));
    changed();
}

void TIconList::InsertResource(int index, const QString& name) {
    Insert(index, resourceIcon(name));
}

void TIconList::Delete(int index) {
    checkIndex(index, Count() - 1);
    items_.erase(items_.begin() + index);
    changed();
}

void TIconList::Clear() {
    BeginUpdate();
    for (int i = Count() - 1; i >= 0; --i)
        Delete(i);
    EndUpdate();
}

void TIconList::Exchange(int i, int j) {
    checkIndex(i, Count() - 1);
    checkIndex(j, Count() - 1);
    std::swap(items_[i], items_[j]);
    changed();
}

void TIconList::Move(int from, int to) {
    checkIndex(from, Count() - 1);
    checkIndex(to, Count() - 1);
    Entry moved = std::move(items_[from]);
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, std::move(moved));
    changed();
}

int TIconList::IndexOf(const QIcon* icon) const {
    const auto it = std::find_if(items_.begin(), items_.end(),
                                 [icon](const Entry& e) { return icon && e.get() == icon; });
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TIconList::EndUpdate() {
    // An unmatched EndUpdate must not leave the list silenced for good.
    if (updateCount_ > 0 && --updateCount_ == 0)
        changed();
}

void TIconList::Assign(const TIconList& other) {
    // Copying a list onto itself would first empty it and then copy nothing.
    if (&other == this)
        return;
    std::vector<Entry> copies;
    for (const Entry& e : other.items_)
        copies.push_back(e ? std::make_unique<QIcon>(*e) : nullptr);
    replace(std::move(copies));
}

void TIconList::Assign(const QIcon& icon) {
    std::vector<Entry> copies;
    copies.push_back(std::make_unique<QIcon>(icon));
    replace(std::move(copies));
}

QByteArray TIconList::WriteData() const {
    if (items_.empty())
        return {};
    QByteArray out;
    appendInt32(out, Count());
    for (const Entry& e : items_) {
        const QByteArray ico = e && !e->isNull() ? IconToIco(*e) : QByteArray();
        appendInt32(out, static_cast<int32_t>(ico.size()));
        out += ico;
    }
    return out;
}

void TIconList::ReadData(const QByteArray& data) {
    std::vector<Entry> items;
    if (!data.isEmpty()) {
        Reader reader(data);
        const int32_t count = reader.Int32();
        // Each entry takes at least its size field: a larger count is a damaged stream.
        if (count < 0 || count > reader.Left() / 4)
            throw EIconListError("The icon list is cut short");
        for (int32_t i = 0; i < count; ++i) {
            const QByteArray bytes = reader.Bytes(reader.Int32());
            if (bytes.isEmpty()) {
                items.push_back(nullptr);
                continue;
            }
            QIcon icon = IconFromIco(bytes);
            if (icon.isNull())
                throw EIconListError(QStringLiteral("Entry %1 of the icon list is not an icon")
                                         .arg(i)
                                         .toStdString());
            items.push_back(std::make_unique<QIcon>(std::move(icon)));
        }
    }
    replace(std::move(items));
}

void TIconList::checkIndex(int index, int limit) const {
    if (index < 0 || index > limit)
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

void TIconList::replace(std::vector<Entry> items) {
    items_ = std::move(items);
    changed();
}

void TIconList::changed() {
    if (updateCount_ == 0 && OnChange)
        OnChange(this);
}
