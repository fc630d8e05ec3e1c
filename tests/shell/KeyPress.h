#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

// A key press as the keyboard delivers it to `target`.
inline void pressKey(QWidget* target, int code, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
}
