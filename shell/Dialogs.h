#pragma once

#include <QString>

#include <deque>
#include <functional>
#include <optional>

class QWidget;

// Every modal dialog of the window goes through here, so that tests can answer them in advance
// instead of blocking on them. An answer queued with SetNextAnswer is used (and consumed) by the
// next dialog, whatever its kind; an empty optional stands for Cancel.
namespace dialogs {

void SetNextAnswer(std::optional<QString> answer);
// The texts of the message boxes shown since the last call, oldest first; then forgotten.
std::deque<QString> TakeMessages();
// True while answers are queued or messages are recorded instead of shown (tests).
void SetRecording(bool recording);

void ShowMessage(QWidget* parent, const QString& text);
// The same without waiting for the user: for news that must not hold up the program.
void ShowNotice(QWidget* parent, const QString& text);
std::optional<QString> InputText(QWidget* parent, const QString& caption, const QString& prompt,
                                 const QString& initial);
// Runs a control's handler; an error it raises is shown with its text and the program goes on.
void Guarded(QWidget* parent, const std::function<void()>& handler);
// Empty when cancelled.
QString BrowseForFolder(QWidget* owner, const QString& root, const QString& title);
// The chosen existing file, or empty when cancelled.
QString OpenFile(QWidget* parent, const QString& folder, const QString& filter);

} // namespace dialogs
