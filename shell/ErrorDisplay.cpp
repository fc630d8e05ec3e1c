#include "shell/ErrorDisplay.h"

#include <QMessageBox>

#include <utility>

ErrorDisplay::ErrorDisplay(QObject* parent) : QObject(parent) {}

ErrorDisplay::~ErrorDisplay() = default;

void ErrorDisplay::Report(const QString& text) {
    // Also to the log stream, which is all that a box nobody looks at leaves behind.
    qWarning("%s", qUtf8Printable(text));
    // Queued even on the UI thread: the caller may be deep in a handler, where a box that opens
    // at once would run a loop of its own inside it.
    QMetaObject::invokeMethod(
        this, [this, text] { receive(text); }, Qt::QueuedConnection);
}

void ErrorDisplay::receive(const QString& text) {
    if (box_) {
        newest_ = text;
        ++heldBack_;
        return;
    }
    open(text);
}

void ErrorDisplay::open(const QString& text) {
    box_ = std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral("KORU"), text,
                                         QMessageBox::Ok);
    box_->setModal(false);
    connect(box_.get(), &QDialog::finished, this, &ErrorDisplay::boxClosed);
    box_->show();
}

void ErrorDisplay::boxClosed() {
    // The box is still emitting its signal: it goes once that is done.
    box_.release()->deleteLater();
    if (heldBack_ == 0)
        return;
    const int others = std::exchange(heldBack_, 0) - 1;
    const QString text = std::exchange(newest_, QString());
    open(others == 0 ? text
                     : QStringLiteral("%1\n\n(and %2 more not shown)").arg(text).arg(others));
}
