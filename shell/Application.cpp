#include "shell/Application.h"

#include "platform/ThreadPump.h"

#include <exception>

KoruApplication::KoruApplication(int& argc, char** argv) : QApplication(argc, argv) {
    platform::SetSocketErrorDisplay(
        [this](const std::string& text) { errors_.Report(QString::fromLocal8Bit(text.c_str())); });
}

KoruApplication::~KoruApplication() {
    platform::SetSocketErrorDisplay(nullptr);
}

bool KoruApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        errors_.Report(QString::fromLocal8Bit(e.what()));
        return false;
    }
}
