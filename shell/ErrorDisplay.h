#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QMessageBox;

// Shows errors that escaped their handlers, one message box at a time. Errors that come while the
// box is open are held back and counted; when it closes, the newest of them is shown with the
// count of the others. Lives on the UI thread.
class ErrorDisplay : public QObject {
public:
    explicit ErrorDisplay(QObject* parent = nullptr);
    ~ErrorDisplay() override;

    // Any thread; never waits for the UI thread.
    void Report(const QString& text);

private:
    void receive(const QString& text);
    void open(const QString& text);
    void boxClosed();

    std::unique_ptr<QMessageBox> box_;
    QString newest_;
    int heldBack_ = 0;
};
