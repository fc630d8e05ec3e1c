#include "shell/Dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include <exception>

namespace dialogs {
namespace {

// UI thread only, like the dialogs themselves.
std::deque<std::optional<QString>> gAnswers;
std::deque<QString> gMessages;
bool gRecording = false;

// True when an answer was queued; `answer` then holds it (empty for Cancel).
bool takeAnswer(std::optional<QString>& answer) {
    if (gAnswers.empty())
        return false;
    answer = std::move(gAnswers.front());
    gAnswers.pop_front();
    return true;
}

} // namespace

void SetNextAnswer(std::optional<QString> answer) {
    gAnswers.push_back(std::move(answer));
}

std::deque<QString> TakeMessages() {
    return std::exchange(gMessages, {});
}

void SetRecording(bool recording) {
    gRecording = recording;
}

void ShowMessage(QWidget* parent, const QString& text) {
    if (gRecording) {
        gMessages.push_back(text);
        return;
    }
    QMessageBox::warning(parent, QStringLiteral("KORU"), text);
}

void Guarded(QWidget* parent, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowMessage(parent, QString::fromLocal8Bit(e.what()));
    }
}

void ShowNotice(QWidget* parent, const QString& text) {
    if (gRecording) {
        gMessages.push_back(text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("KORU"), text, QMessageBox::Ok,
                                parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

std::optional<QString> InputText(QWidget* parent, const QString& caption, const QString& prompt,
                                 const QString& initial) {
    if (std::optional<QString> answer; takeAnswer(answer))
        return answer;
    if (gRecording)
        return std::nullopt;
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, initial, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

QString BrowseForFolder(QWidget* owner, const QString& root, const QString& title) {
    if (std::optional<QString> answer; takeAnswer(answer))
        return answer.value_or(QString());
    if (gRecording)
        return {};
    return QFileDialog::getExistingDirectory(owner, title, root.trimmed(),
                                             QFileDialog::ShowDirsOnly);
}

QString OpenFile(QWidget* parent, const QString& folder, const QString& filter) {
    if (std::optional<QString> answer; takeAnswer(answer))
        return answer.value_or(QString());
    if (gRecording)
        return {};
    QFileDialog dialog(parent, QString(), folder, filter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setDefaultSuffix(QStringLiteral("htm"));
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().first()
               : QString();
}

} // namespace dialogs
