// The console pane: every line the program printed, each after its time
// stamp, in a read-only view the operator can save to a file.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "platform/runtime/console_capture.h"

namespace kovra610::runtime {

class ConsolePane : public QWidget {
    Q_OBJECT

public:
    // Lines kept; older ones leave the view (and a saved file) first.
    static constexpr int kMaxLines = 100000;
    // Wide enough for a line of "Read all Regs" after its time stamp.
    static constexpr int kWidth = 560;

    // The pane's view and its button are made by build(), not here: the
    // window goes on screen without them, and they follow in the program's
    // first wait.
    explicit ConsolePane(QWidget* parent = nullptr);

    // Makes the view and the button, once; the lines that came meanwhile
    // are in the view when the pane is shown.
    void build();
    bool built() const { return view_ != nullptr; }

    // "hh:mm:ss.zzz  text", in local time.
    static QString stampedText(const ConsoleLine& line);
    // Lines reach the view while the pane is shown; while it is hidden (or
    // not built) they wait, and go in together when it is shown (or read, or
    // saved).
    void append(const ConsoleLine& line);
    // Every line, one a line.
    QString text();

    QSize sizeHint() const override { return {kWidth, QWidget::sizeHint().height()}; }

    // Writes the lines shown to `path`. False, with the reason in `error`,
    // when the file cannot be written.
    bool saveTo(const QString& path, QString* error);

signals:
    // After a save asked for by the operator: what became of it.
    void saved(const QString& outcome);

public slots:
    // Asks the operator for a file (the run-time's file popup) and saves.
    void save();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void flush();

    QPlainTextEdit* view_ = nullptr;
    QStringList waiting_;
};

}  // namespace kovra610::runtime
