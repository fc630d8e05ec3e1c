#pragma once

#include <QIcon>

class TRxTray;

// A grey, faded copy of `icon` in every size it holds, transparency kept: the same shape, so that
// it is still recognised, but plainly not the lively one.
QIcon GreyedIcon(const QIcon& icon);

// The tray's picture tells at a glance whether the folder is shared: the program's icon while the
// server listens, its greyed copy while it does not. UI thread only; the tray outlives it.
class TTrayStateIcons {
public:
    TTrayStateIcons(TRxTray& tray, const QIcon& listening);

    void ShowListening() { show(listening_); }
    void ShowStopped() { show(stopped_); }
    const QIcon& Listening() const { return listening_; }
    const QIcon& Stopped() const { return stopped_; }

private:
    void show(const QIcon& icon);

    TRxTray& tray_;
    QIcon listening_;
    QIcon stopped_;
};
