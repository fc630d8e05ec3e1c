#include "shell/ProblemNotes.h"

#include "shell/PortCheck.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel* makeNote(const QString& name, QWidget* parent) {
    auto* note = new QLabel(parent);
    note->setObjectName(name);
    note->setWordWrap(true);
    note->setTextFormat(Qt::PlainText);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    note->setStyleSheet(QStringLiteral("color: #a00000"));
    note->hide();
    return note;
}

} // namespace

TProblemNotes::TProblemNotes(QWidget* parent)
    : QWidget(parent), port_(makeNote(QStringLiteral("PortNote"), this)),
      log_(makeNote(QStringLiteral("LogNote"), this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(port_);
    layout->addWidget(log_);
    hide();
}

void TProblemNotes::ShowStartFailure(int32_t code, uint16_t port) {
    setNote(*port_, PortProblemText(code, port));
}

QString TProblemNotes::PortNote() const {
    return port_->isHidden() ? QString() : port_->text();
}

QString TProblemNotes::LogNote() const {
    return log_->isHidden() ? QString() : log_->text();
}

void TProblemNotes::setNote(QLabel& note, const QString& text) {
    note.setText(text);
    note.setToolTip(text);
    note.setVisible(!text.isEmpty());
    setVisible(!port_->isHidden() || !log_->isHidden());
}
