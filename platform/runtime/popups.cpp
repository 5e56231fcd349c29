// File and message popups: modal Qt dialogs, or the answers a program
// without an operator installed.
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <cstring>
#include <utility>

#include "platform/runtime/popup_answers.h"
#include "platform/runtime/status.h"
#include "runtime_internal.h"

using kovra610::runtime::FilePopupRequest;
using kovra610::runtime::PopupAnswers;
using namespace kovra610::runtime::detail;

namespace {

PopupAnswers* g_answers = nullptr;

std::string text(const char* s) {
    return s ? s : "";
}

// "*.sbus;*.txt" -> {"*.sbus", "*.txt"}
QStringList patterns(const std::string& typeList) {
    QStringList out;
    for (const QString& p :
         QString::fromStdString(typeList).split(QRegularExpression("[;,\\s]+"), Qt::SkipEmptyParts))
        out << p;
    return out;
}

bool hasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

// The extension a pattern asks for ("*.sbus" -> "sbus"), or "" for none.
QString patternSuffix(const QString& pattern) {
    const qsizetype dot = pattern.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) return {};
    const QString suffix = pattern.mid(dot + 1);
    if (suffix.isEmpty() || suffix.contains(QLatin1Char('*')) || suffix.contains(QLatin1Char('?')))
        return {};
    return suffix;
}

// With a restricted extension the chosen name must carry one of the listed
// extensions; when it does not, the first one is appended.
QString forceExtension(const QString& path, const QStringList& allowed) {
    QStringList suffixes;
    for (const QString& p : allowed) {
        const QString s = patternSuffix(p);
        if (!s.isEmpty()) suffixes << s;
    }
    if (suffixes.isEmpty()) return path;
    const QString suffix = QFileInfo(path).suffix();
    for (const QString& s : suffixes) {
        if (suffix.compare(s, Qt::CaseInsensitive) == 0) return path;
    }
    return path + QLatin1Char('.') + suffixes.first();
}

QString absoluteDirectory(const std::string& dir) {
    if (dir.empty()) return QDir::currentPath();
    return QDir(QDir::currentPath()).absoluteFilePath(QString::fromStdString(dir));
}

// Runs the dialog; returns the chosen path or "" when cancelled.
QString runDialog(const FilePopupRequest& call, const QStringList& types) {
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowTitle(QString::fromStdString(call.title));
    const QString dir = absoluteDirectory(call.directory);
    dialog.setDirectory(dir);
    if (call.buttonLabel == VAL_SAVE_BUTTON) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else if (call.buttonLabel == VAL_LOAD_BUTTON) {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::AnyFile);
    }

    QStringList filters;
    if (!types.isEmpty()) filters << types.join(QLatin1Char(' '));
    if (hasWildcard(call.fileSpec) && !types.contains(QString::fromStdString(call.fileSpec)))
        filters.prepend(QString::fromStdString(call.fileSpec));
    if (!call.restrictExtension) filters << QStringLiteral("All files (*)");
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    if (!call.fileSpec.empty() && !hasWildcard(call.fileSpec))
        dialog.selectFile(QString::fromStdString(call.fileSpec));
    if (!call.restrictExtension && !types.isEmpty()) {
        const QString suffix = patternSuffix(types.first());
        if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
    }
    if (!call.allowMakeDirectory) dialog.setOption(QFileDialog::ReadOnly);
    if (call.restrictDirectory) {
        // Keep the operator in the directory given.
        QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog,
                         [&dialog, dir](const QString& entered) {
                             if (QDir(entered) != QDir(dir)) dialog.setDirectory(dir);
                         });
        dialog.setSidebarUrls({});
    }
    if (!call.allowCancel) {
        if (auto* box = dialog.findChild<QDialogButtonBox*>()) {
            if (QPushButton* cancel = box->button(QDialogButtonBox::Cancel)) cancel->hide();
        }
    }
    for (;;) {
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            return dialog.selectedFiles().first();
        if (call.allowCancel) return {};
    }
}

// The file chosen for the popup, as a full path, or "" when it was cancelled.
QString chooseFile(const FilePopupRequest& call, const QStringList& types) {
    QString chosen;
    if (g_answers != nullptr)
        chosen = QString::fromStdString(g_answers->chooseFile(call));
    else if (QApplication::instance())
        chosen = runDialog(call, types);
    if (chosen.isEmpty()) return chosen;
    return QDir(absoluteDirectory(call.directory)).absoluteFilePath(chosen);
}

}  // namespace

namespace kovra610::runtime {
void installPopupAnswers(PopupAnswers* answers) {
    g_answers = answers;
}

void CollectedPopups::acknowledge(const std::string& title, const std::string& message) {
    if (!collected_.empty()) collected_ += "; ";
    collected_ += title + ": " + message;
}

std::string CollectedPopups::take() {
    return std::exchange(collected_, std::string());
}
}  // namespace kovra610::runtime

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char* pathName, std::size_t size) {
    if (!pathName || size == 0) return UIE_OUT_OF_RANGE;
    pathName[0] = '\0';
    FilePopupRequest call;
    call.directory = text(defaultDirectory);
    call.fileSpec = text(defaultFileSpec);
    call.typeList = text(fileTypeList);
    call.title = text(title);
    call.buttonLabel = buttonLabel;
    call.restrictDirectory = restrictDirectory;
    call.restrictExtension = restrictExtension;
    call.allowCancel = allowCancel;
    call.allowMakeDirectory = allowMakeDirectory;
    const QStringList types = patterns(call.typeList);
    QString chosen = chooseFile(call, types);
    if (chosen.isEmpty()) return VAL_NO_FILE_SELECTED;

    if (restrictExtension) {
        QStringList allowed = types;
        if (allowed.isEmpty() && hasWildcard(call.fileSpec))
            allowed << QString::fromStdString(call.fileSpec);
        chosen = forceExtension(chosen, allowed);
    }
    const std::string path = QDir::toNativeSeparators(chosen).toStdString();
    if (path.size() >= size) {
        // A cut path would name another file: refuse it instead, in the
        // status line, where the operator who chose it looks.
        kovra610::runtime::showStatus(call.title + ": the chosen path is longer than " +
                                      std::to_string(size - 1) + " characters: " + path);
        return VAL_NO_FILE_SELECTED;
    }
    std::memcpy(pathName, path.c_str(), path.size() + 1);
    return QFileInfo::exists(chosen) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
}

int MessagePopup(const char* title, const char* message) {
    if (g_answers != nullptr) {
        g_answers->acknowledge(text(title), text(message));
    } else if (QApplication::instance()) {
        QMessageBox box(QMessageBox::Information, QString::fromUtf8(title ? title : ""),
                        QString::fromUtf8(message ? message : ""), QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    } else {
        reportError(title ? title : "Message", text(message));
    }
    return UIE_NO_ERROR;
}
