#include "shell/PortField.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

const QString kMarkedStyle =
    QStringLiteral("QLineEdit { border: 1px solid #c00000; background: #fff0f0; }");

// The grid item that holds `field`, directly or in a layout of its own; -1 when none does.
int itemHolding(const QGridLayout& grid, const QWidget& field) {
    for (int i = 0; i < grid.count(); ++i) {
        QLayoutItem* item = grid.itemAt(i);
        if (item->widget() == &field || (item->layout() && item->layout()->indexOf(&field) >= 0))
            return i;
    }
    return -1;
}

} // namespace

TPortFieldMark::TPortFieldMark(QLineEdit& field, ServiceLookup lookup)
    : QObject(&field), field_(field), lookup_(std::move(lookup)) {
    note_ = new QLabel(field.parentWidget());
    note_->setObjectName(field.objectName() + QStringLiteral("Note"));
    note_->setWordWrap(true);
    note_->setTextFormat(Qt::PlainText);
    note_->setStyleSheet(QStringLiteral("color: #a00000"));
    note_->hide();
    placeNote();
    note_->installEventFilter(this);
    connect(&field, &QLineEdit::textChanged, this, &TPortFieldMark::Update);
    Update();
}

// The line goes right under the field's row: the row's cell becomes a column of the row and the
// line, so that the rows below move down instead of the line standing at the group's end.
void TPortFieldMark::placeNote() {
    auto* grid = qobject_cast<QGridLayout*>(field_.parentWidget()->layout());
    const int index = grid ? itemHolding(*grid, field_) : -1;
    if (index < 0)
        return;
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(index, &row, &column, &rows, &columns);
    QLayoutItem* item = grid->takeAt(index);
    auto* cell = new QVBoxLayout;
    cell->setSpacing(1);
    if (QLayout* inner = item->layout()) {
        inner->setParent(nullptr);
        cell->addLayout(inner);
    } else {
        cell->addItem(item);
    }
    cell->addWidget(note_);
    grid->addLayout(cell, row, column, rows, columns);
}

void TPortFieldMark::Update() {
    const PortCheck check = CheckPortText(field_.text(), lookup_);
    marked_ = !check.plain;
    field_.setStyleSheet(marked_ ? kMarkedStyle : QString());
    field_.setToolTip(check.note);
    note_->setText(check.note);
    note_->setVisible(marked_);
    fitHeight();
}

bool TPortFieldMark::eventFilter(QObject* watched, QEvent* event) {
    if (watched == note_ && event->type() == QEvent::Resize)
        fitHeight();
    return QObject::eventFilter(watched, event);
}

// Layouts give a wrapped line the height of its text at its size hint's width, not at the width
// it gets: at the window's least size it would be cut, and the port row squeezed with it.
void TPortFieldMark::fitHeight() {
    if (note_->isHidden())
        return;
    // The label's own heightForWidth counts its minimum height in, so it could only ever grow.
    const QMargins margins = note_->contentsMargins();
    const int width = note_->width() - margins.left() - margins.right() - 2 * note_->margin();
    if (width <= 0)
        return;
    const int height = note_->fontMetrics()
                           .boundingRect(QRect(0, 0, width, 0), Qt::TextWordWrap, note_->text())
                           .height() +
                       margins.top() + margins.bottom() + 2 * note_->margin();
    if (height != note_->minimumHeight())
        note_->setMinimumHeight(height);
}

QString TPortFieldMark::Note() const {
    return marked_ ? note_->text() : QString();
}
