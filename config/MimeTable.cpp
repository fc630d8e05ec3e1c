#include "config/MimeTable.h"

#include "config/TodaysMime.h"

namespace {

void checkStorable(const QString& text, const char* what) {
    if (text.isEmpty() || text.contains(QLatin1Char('"')))
        throw EMimeError(std::string("The ") + what +
                         " must not be empty or contain a double quote.");
}

QString line(const QString& extension, const QString& contentType) {
    return extension + QStringLiteral(" --> ") + contentType;
}

} // namespace

const QString& DefaultMimeText() {
    static const QString text = QStringLiteral(
        "\"ai\"=\"application/postscript\"\"aif\"=\"audio/x-aiff\"\"aifc\"=\"audio/x-aiff\""
        "\"aiff\"=\"audio/x-aiff\"\"au\"=\"audio/basic\"\"avi\"=\"video/x-msvideo\""
        "\"bin\"=\"application/octet-stream\"\"bmp\"=\"image/x-MS-bmp\""
        "\"cpio\"=\"application/x-cpio\"\"csh\"=\"application/x-csh\""
        "\"doc\"=\"application/x-doc/Wordpad\"\"dvi\"=\"application/x-dvi\""
        "\"eps\"=\"application/postscript\"\"exe\"=\"application/octet-stream\""
        "\"gif\"=\"image/gif\"\"gtar\"=\"application/x-gtar\"\"gz\"=\"application/x-gzip\""
        "\"hpx\"=\"application/mac-binhex40\"\"htm\"=\"text/html\"\"html\"=\"text/html\""
        "\"ief\"=\"image/ief\"\"jpe\"=\"image/jpg\"\"jpeg\"=\"image/jpg\"\"jpg\"=\"image/jpg\""
        "\"js\"=\"bws-internal/intrasrv-javascript\"\"latex\"=\"application/x-latex\""
        "\"ls\"=\"application/x-javascript\"\"mocha\"=\"application/x-javascript\""
        "\"mov\"=\"video/quicktime\"\"mpe\"=\"video/mpeg\"\"mpeg\"=\"video/mpeg\""
        "\"mpg\"=\"video/mpeg\"\"pac\"=\"application/x-ns-proxy-autoconfig\""
        "\"pbm\"=\"image/x-portable-bitmap\"@\"pgm\"=\"image/x-portable-graymap\"@"
        "\"pnm\"=\"image/x-portable-anymap\"@\"ppm\"=\"image/x-portable-pixmap\"@"
        "\"ps\"=\"application/postscript\"@\"qt\"=\"video/quicktime\"@"
        "\"ras\"=\"image/x-cmu-raster\"@\"rgb\"=\"image/x-rgb\"@\"rtf\"=\"application/rtf\"@"
        "\"sh\"=\"application/x-sh\"@\"shar\"=\"application/x-shar\"@"
        "\"sit\"=\"application/x-stiffit\"@\"snd\"=\"audio/basic\"@\"tar\"=\"application/x-tar\"@"
        "\"tcl\"=\"application/x-tcl\"@\"tex\"=\"application/x-tex\"@"
        "\"texi\"=\"application/x-textinfo\"@\"texinfo\"=\"application/x-textinfo\"@"
        "\"text\"=\"text/plain\"@\"tif\"=\"image/tiff\"@\"tiff\"=\"image/tiff\"@"
        "\"txt\"=\"text/plain\"@\"wav\"=\"audio/x-wav\"@\"xbm\"=\"image/x-xbitmap\"@"
        "\"xpm\"=\"image/x-xpixmap\"@\"xwd\"=\"image/x-xwindowdump\"@"
        "\"zip\"=\"application/x-zip-compressed\"@\"jfm\"=\"bws-internal/intrasrv-form\"@"
        "\"jrp\"=\"bws-internal/intrasrv-report\"@\"isv\"=\"bws-internal/intrasrv-urlencoded\"@");
    return text;
}

namespace {

int indexOf(const QStringList& extensions, const QString& extension) {
    for (int i = 0; i < extensions.size(); ++i)
        if (extensions[i].compare(extension, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

} // namespace

MimeTypes::MimeTypes(QStringList extensions, QStringList contentTypes)
    : extensions_(std::move(extensions)) {
    latin1Types_.reserve(static_cast<size_t>(contentTypes.size()));
    for (const QString& type : contentTypes)
        latin1Types_.push_back(type.toLatin1().toStdString());
}

// Looked up for every file sent: the extension is compared where it lies, and the answer was
// converted when the table was published.
std::string MimeTypes::Lookup(std::string_view extension) const {
    const QLatin1String wanted(extension.data(), static_cast<qsizetype>(extension.size()));
    for (qsizetype i = 0; i < extensions_.size(); ++i)
        if (extensions_[i].compare(wanted, Qt::CaseInsensitive) == 0)
            return latin1Types_[static_cast<size_t>(i)];
    return {};
}

MimeTable::MimeTable() {
    publish();
}

int MimeTable::find(const QString& extension) const {
    return indexOf(extensions_, extension);
}

void MimeTable::publish() {
    if (loading_)
        return;
    published_.store(std::make_shared<const MimeTypes>(extensions_, contentTypes_));
}

void MimeTable::changed() const {
    if (OnChanged)
        OnChanged();
}

QString MimeTable::LookupMIME(const QString& extension) const {
    const int i = find(extension);
    return i < 0 ? QString() : contentTypes_[i];
}

void MimeTable::SetMIME(const QString& extension, const QString& contentType) {
    checkStorable(extension, "extension");
    checkStorable(contentType, "content type");
    const int i = find(extension);
    if (i < 0) {
        append(extension, contentType);
        selected_ = static_cast<int>(lines_.size()) - 1;
    } else {
        // The stored extension keeps its letter case; only the line shows the one passed here.
        contentTypes_[i] = contentType;
        lines_[i] = line(extension, contentType);
        selected_ = i;
    }
    publish();
    LBClick();
}

void MimeTable::append(const QString& extension, const QString& contentType) {
    extensions_.append(extension);
    contentTypes_.append(contentType);
    lines_.append(line(extension, contentType));
    dropEnabled_ = true;
}

void MimeTable::DropMIME(const QString& extension) {
    int i = find(extension);
    if (i < 0)
        return;
    extensions_.removeAt(i);
    contentTypes_.removeAt(i);
    lines_.removeAt(i);
    publish();
    if (i >= lines_.size())
        i = static_cast<int>(lines_.size()) - 1;
    if (lines_.isEmpty()) {
        dropEnabled_ = false;
        selected_ = -1;
    } else {
        selected_ = i;
    }
    LBClick();
}

QString MimeTable::GetMIME() const {
    QString text;
    for (int i = 0; i < extensions_.size(); ++i)
        text += QLatin1Char('"') + extensions_[i] + QStringLiteral("\"=\"") + contentTypes_[i] +
                QStringLiteral("\"@");
    return text;
}

QString MimeTable::NextQuoted(QString& text) {
    const qsizetype n = text.size();
    QString token;
    if (n == 0)
        return token;
    // Positions count from 1 here, as in the stored format's description; T(i) is text[i - 1].
    const auto at = [&](qsizetype i) { return text[i - 1]; };
    qsizetype i = 1;
    while (at(i) != QLatin1Char('"') && i < n - 1)
        ++i;
    ++i;
    while (i < n && at(i) != QLatin1Char('"')) {
        token += at(i);
        ++i;
    }
    if (i == n && at(n) != QLatin1Char('"') && n > 1) {
        // The closing quote is missing: the rest of the text cannot hold a whole pair.
        text.clear();
        return {};
    }
    text.remove(0, qMin(i, n));
    return token;
}

void MimeTable::LoadMIME(const QString& text) {
    extensions_.clear();
    contentTypes_.clear();
    lines_.clear();
    selected_ = -1;
    // Workers go on with the old table until the new one is whole.
    loading_ = true;
    // Tokens never hold a quote, so SetMIME cannot throw here.
    forEachPair(text, [this](const QString& extension, const QString& contentType) {
        SetMIME(extension, contentType);
    });
    loading_ = false;
    publish();
    if (!lines_.isEmpty()) {
        selected_ = 0;
        LBClick();
    } else {
        dropEnabled_ = false;
        changeEnabled_ = false;
        edit5_.clear();
        changed();
    }
}

// Calls `each` with every pair of the stored text, up to the first that is not whole.
void MimeTable::forEachPair(const QString& text,
                            const std::function<void(const QString&, const QString&)>& each) {
    QString rest = text;
    for (;;) {
        const QString extension = NextQuoted(rest);
        const QString contentType = NextQuoted(rest);
        if (extension.isEmpty() || contentType.isEmpty())
            return;
        each(extension, contentType);
    }
}

int MimeTable::AddMissing(const QString& text) {
    const int first = static_cast<int>(lines_.size());
    // Tokens never hold a quote, so every pair is storable.
    forEachPair(text, [this](const QString& extension, const QString& contentType) {
        if (find(extension) < 0)
            append(extension, contentType);
    });
    const int added = static_cast<int>(lines_.size()) - first;
    if (added > 0) {
        publish();
        selected_ = first;
        LBClick();
    }
    return added;
}

int MimeTable::AddTodaysTypes() {
    return AddMissing(TodaysMimeText());
}

void MimeTable::Select(int line) {
    if (line < 0 || line >= lines_.size())
        return;
    selected_ = line;
    LBClick();
}

void MimeTable::LBClick() {
    if (!lines_.isEmpty() && selected_ >= 0)
        edit5_ = contentTypes_[selected_];
    else
        edit5_ = kEmptyHint;
    changeEnabled_ = false;
    changed();
}

void MimeTable::Edit5Change(const QString& text) {
    edit5_ = text;
    changeEnabled_ = !text.isEmpty() && !extensions_.isEmpty();
    changed();
}

void MimeTable::AddBtnClick(const QString& enteredExtension) {
    qsizetype dots = 0;
    while (dots < enteredExtension.size() && enteredExtension[dots] == QLatin1Char('.'))
        ++dots;
    SetMIME(enteredExtension.mid(dots), QStringLiteral("type/info"));
}

void MimeTable::DropBtnClick() {
    if (selected_ >= 0)
        DropMIME(extensions_[selected_]);
}

void MimeTable::ChangeBtnClick() {
    if (selected_ >= 0)
        SetMIME(extensions_[selected_], edit5_);
}
