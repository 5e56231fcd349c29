#include "platform/runtime/console_pane.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "platform/runtime/panel_runtime.h"

namespace kovra610::runtime {

ConsolePane::ConsolePane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("consolePane"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
}

void ConsolePane::build() {
    if (built()) return;
    view_ = new QPlainTextEdit(this);
    view_->setObjectName(QStringLiteral("consoleText"));
    view_->setReadOnly(true);
    view_->setMaximumBlockCount(kMaxLines);
    view_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view_->setAccessibleName(QStringLiteral("Console"));

    auto* saveButton = new QPushButton(QStringLiteral("Save…"), this);
    saveButton->setObjectName(QStringLiteral("consoleSave"));
    saveButton->setToolTip(QStringLiteral("Save the console lines to a file"));
    connect(saveButton, &QPushButton::clicked, this, &ConsolePane::save);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->addStretch(1);
    header->addWidget(saveButton);
    auto* box = static_cast<QVBoxLayout*>(layout());
    box->addLayout(header);
    box->addWidget(view_, 1);
    if (isVisible()) {  // on screen at once, not at the next event processing
        saveButton->show();
        view_->show();
        flush();
        layout()->activate();
        repaint();
    }
}

QString ConsolePane::stampedText(const ConsoleLine& line) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(line.time.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("hh:mm:ss.zzz")) +
           QStringLiteral("  ") + QString::fromLocal8Bit(line.text);
}

void ConsolePane::append(const ConsoleLine& line) {
    waiting_.append(stampedText(line));
    if (waiting_.size() > kMaxLines) waiting_.removeFirst();
    if (isVisible()) flush();
}

// Laying out lines in a hidden view (at no useful width) would cost more
// than the printing itself.
void ConsolePane::flush() {
    if (waiting_.isEmpty() || !built()) return;
    view_->appendPlainText(waiting_.join(QLatin1Char('\n')));
    waiting_.clear();
}

void ConsolePane::showEvent(QShowEvent* event) {
    flush();
    QWidget::showEvent(event);
}

QString ConsolePane::text() {
    build();
    flush();
    return view_->toPlainText();
}

bool ConsolePane::saveTo(const QString& path, QString* error) {
    QSaveFile file(path);
    // Written whole or not at all; in place when the folder is not writable.
    file.setDirectWriteFallback(true);
    QByteArray bytes = text().toLocal8Bit();
    if (!bytes.isEmpty()) bytes.append('\n');
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

void ConsolePane::save() {
    char path[4096] = "";
    if (FileSelectPopup("", "console.log", "*.log;*.txt", "Save Console", VAL_SAVE_BUTTON, 0, 0, 1,
                        1, path) == VAL_NO_FILE_SELECTED) {
        emit saved(QStringLiteral("Save Console: cancelled"));
        return;
    }
    QString why;
    const QString file = QString::fromLocal8Bit(path);
    if (saveTo(file, &why)) {
        emit saved(QStringLiteral("Save Console: saved to %1").arg(QFileInfo(file).fileName()));
    } else {
        MessagePopup("Save Console",
                     ("Unable to save " + file + ": " + why).toLocal8Bit().constData());
        emit saved(QStringLiteral("Save Console: failed"));
    }
}

}  // namespace kovra610::runtime
