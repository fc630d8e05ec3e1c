#pragma once

#include "shell/ErrorDisplay.h"

#include <QApplication>

// The program's application object. An exception that leaves an event handler or a slot, or a
// socket event handler on the main loop, is shown in the error display and the loop goes on:
// such an error belongs to one action of the user, not to the whole program.
class KoruApplication : public QApplication {
public:
    KoruApplication(int& argc, char** argv);
    ~KoruApplication() override;
    KoruApplication(const KoruApplication&) = delete;
    KoruApplication& operator=(const KoruApplication&) = delete;

    bool notify(QObject* receiver, QEvent* event) override;
    ErrorDisplay& Errors() { return errors_; }

private:
    ErrorDisplay errors_;
};
