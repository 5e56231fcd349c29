// Popups answered from a script, text formatting, the working directory,
// waits and pictures of the panel.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstring>

#include "runtime_fixture.h"

namespace {
class PopupTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        rt::clearShownMessagePopups();
        calls0 = rt::filePopupCalls().size();
    }
    std::size_t calls0 = 0;
};
}  // namespace

TEST_F(PopupTest, FilePopupTakesScriptedAnswersAndRecordsItsArguments) {
    QTemporaryDir dir;
    const std::string existing = dir.filePath("old.sbus").toStdString();
    QFile(QString::fromStdString(existing)).open(QIODevice::WriteOnly);
    rt::answerNextFilePopup(existing);
    rt::answerNextFilePopup(dir.filePath("new.sbus").toStdString());
    rt::answerNextFilePopup("");

    char path[260];
    EXPECT_EQ(FileSelectPopup(dir.path().toUtf8().constData(), "*.sbus", "*.sbus",
                              "Select SBUS Setup File", VAL_LOAD_BUTTON, 0, 0, 1, 1, path),
              VAL_EXISTING_FILE_SELECTED);
    EXPECT_EQ(std::string(path), existing);
    EXPECT_EQ(FileSelectPopup("/tmp", "None Loaded", "*.sbus", "Save As", VAL_SAVE_BUTTON, 0, 1, 1,
                              1, path),
              VAL_NEW_FILE_SELECTED);
    EXPECT_EQ(std::string(path), dir.filePath("new.sbus").toStdString());
    std::strcpy(path, "stale");
    EXPECT_EQ(
        FileSelectPopup("/tmp", "*.sbus", "*.sbus", "Again", VAL_LOAD_BUTTON, 0, 0, 1, 1, path),
        VAL_NO_FILE_SELECTED);
    EXPECT_STREQ(path, "");
    // No answer left: scripted popups cancel instead of blocking.
    EXPECT_EQ(
        FileSelectPopup("/tmp", "*.sbus", "*.sbus", "None left", VAL_LOAD_BUTTON, 0, 0, 1, 1, path),
        VAL_NO_FILE_SELECTED);

    const auto calls = rt::filePopupCalls();
    ASSERT_EQ(calls.size(), calls0 + 4);
    const rt::FilePopupCall& save = calls[calls0 + 1];
    EXPECT_EQ(save.directory, "/tmp");
    EXPECT_EQ(save.fileSpec, "None Loaded");
    EXPECT_EQ(save.typeList, "*.sbus");
    EXPECT_EQ(save.title, "Save As");
    EXPECT_EQ(save.buttonLabel, VAL_SAVE_BUTTON);
    EXPECT_EQ(save.restrictDirectory, 0);
    EXPECT_EQ(save.restrictExtension, 1);
    EXPECT_EQ(save.allowCancel, 1);
    EXPECT_EQ(save.allowMakeDirectory, 1);
    EXPECT_EQ(calls[calls0].title, "Select SBUS Setup File");
    EXPECT_EQ(calls[calls0].buttonLabel, VAL_LOAD_BUTTON);
}

TEST_F(PopupTest, RestrictedExtensionIsForcedAndLongPathsAreRefused) {
    QTemporaryDir dir;
    char path[260];
    rt::answerNextFilePopup(dir.filePath("mysetup").toStdString());
    ASSERT_NE(FileSelectPopup("", "", "*.sbus", "Save As", 1, 0, 1, 1, 1, path), 0);
    EXPECT_EQ(std::string(path), dir.filePath("mysetup.sbus").toStdString());
    rt::answerNextFilePopup(dir.filePath("mysetup.SBUS").toStdString());
    ASSERT_NE(FileSelectPopup("", "", "*.sbus", "Save As", 1, 0, 1, 1, 1, path), 0);
    EXPECT_EQ(std::string(path), dir.filePath("mysetup.SBUS").toStdString());
    rt::answerNextFilePopup(dir.filePath("notes.txt").toStdString());
    ASSERT_NE(FileSelectPopup("", "", "*.sbus", "Load", 2, 0, 0, 1, 1, path), 0);
    EXPECT_EQ(std::string(path), dir.filePath("notes.txt").toStdString());  // not restricted

    // A relative answer is taken in the popup's directory.
    rt::answerNextFilePopup("rel.sbus");
    ASSERT_NE(
        FileSelectPopup(dir.path().toUtf8().constData(), "", "*.sbus", "Load", 2, 0, 0, 1, 1, path),
        0);
    EXPECT_EQ(std::string(path), dir.filePath("rel.sbus").toStdString());

    // A path that does not fit is refused, never cut into another name.
    char tiny[16];
    rt::answerNextFilePopup("/a/rather/long/path/name.sbus");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(FileSelectPopup("", "", "*.sbus", "Save As", 1, 0, 1, 1, 1, tiny), 0);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("longer than 15 characters"),
              std::string::npos);
    EXPECT_STREQ(tiny, "");
}

namespace {
// The modal dialog of the given type once it is up.
template <typename Dialog>
Dialog* openDialog() {
    if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) return d;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = qobject_cast<Dialog*>(w); d && d->isVisible()) return d;
    }
    return nullptr;
}
}  // namespace

// What the file dialog showed when it came up.
struct SeenDialog {
    bool found = false;
    QString title, directory;
    QFileDialog::AcceptMode accept = QFileDialog::AcceptOpen;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QStringList filters, selected;
    bool readOnly = false;
};

// Once the next file dialog is up, notes what it shows in `seen` and
// answers it: the file named, or cancel for null.
void inspectNextFileDialog(SeenDialog& seen, const char* answer) {
    QTimer::singleShot(0, [&seen, answer] {
        QFileDialog* d = openDialog<QFileDialog>();
        if (!d) return;
        seen.found = true;
        seen.title = d->windowTitle();
        seen.directory = d->directory().absolutePath();
        seen.accept = d->acceptMode();
        seen.mode = d->fileMode();
        seen.filters = d->nameFilters();
        seen.selected = d->selectedFiles();
        seen.readOnly = d->testOption(QFileDialog::ReadOnly);
        if (answer) {
            d->selectFile(answer);
            static_cast<QDialog*>(d)->accept();
        } else {
            d->reject();
        }
    });
}

TEST_F(PopupTest, RealFileDialogIsSetUpFromTheArguments) {
    QTemporaryDir dir;
    rt::setScriptedPopups(false);
    SeenDialog seen;

    char path[260];
    inspectNextFileDialog(seen, "mine");
    const int saved = FileSelectPopup(dir.path().toUtf8().constData(), "None Loaded", "*.sbus",
                                      "Save As", VAL_SAVE_BUTTON, 0, 1, 1, 0, path);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.title, "Save As");
    EXPECT_EQ(seen.directory, QDir(dir.path()).absolutePath());
    EXPECT_EQ(seen.accept, QFileDialog::AcceptSave);
    EXPECT_EQ(seen.filters, QStringList{"*.sbus"});  // restricted: no "All files"
    EXPECT_EQ(seen.selected, QStringList{dir.filePath("None Loaded")});
    EXPECT_TRUE(seen.readOnly);  // no new directories
    EXPECT_EQ(saved, VAL_NEW_FILE_SELECTED);
    EXPECT_EQ(std::string(path), dir.filePath("mine.sbus").toStdString());

    seen = SeenDialog{};
    inspectNextFileDialog(seen, nullptr);
    const int cancelled =
        FileSelectPopup(dir.path().toUtf8().constData(), "*.sbus", "*.sbus",
                        "Select SBUS Setup File", VAL_LOAD_BUTTON, 0, 0, 1, 1, path);
    rt::setScriptedPopups(true);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(cancelled, VAL_NO_FILE_SELECTED);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(seen.accept, QFileDialog::AcceptOpen);
    EXPECT_EQ(seen.mode, QFileDialog::ExistingFile);
    EXPECT_TRUE(seen.filters.contains("*.sbus"));
    EXPECT_TRUE(seen.filters.contains("All files (*)"));
    EXPECT_FALSE(seen.readOnly);
}

TEST_F(PopupTest, RealMessageBoxShowsTitleAndText) {
    rt::setScriptedPopups(false);
    QString title, text;
    QTimer::singleShot(0, [&] {
        if (QMessageBox* box = openDialog<QMessageBox>()) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    MessagePopup("Error", "Unable to Create  /x");
    rt::setScriptedPopups(true);
    EXPECT_EQ(title, "Error");
    EXPECT_EQ(text, "Unable to Create  /x");
    EXPECT_TRUE(rt::shownMessagePopups().empty());  // the operator answered, not the script
}

TEST_F(PopupTest, MessagePopupsAreRecordedAndAcknowledged) {
    EXPECT_EQ(MessagePopup("Error", "Unable to Create  /x/y.sbus"), 0);
    EXPECT_EQ(MessagePopup("Note", ""), 0);
    const auto shown = rt::shownMessagePopups();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].title, "Error");
    EXPECT_EQ(shown[0].message, "Unable to Create  /x/y.sbus");
    EXPECT_EQ(shown[1].title, "Note");
    rt::clearShownMessagePopups();
    EXPECT_TRUE(rt::shownMessagePopups().empty());
}

TEST(RuntimeText, FmtWritesBoundedText) {
    char buf[64];
    EXPECT_EQ(Fmt(buf, "%s<Unable to Create  %s", "/tmp/a.sbus"), 29);
    EXPECT_STREQ(buf, "Unable to Create  /tmp/a.sbus");
    EXPECT_EQ(Fmt(buf, "%s<%d,%X,%5.2f", 12, 255, 3.14159), 11);
    EXPECT_STREQ(buf, "12,FF, 3.14");

    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(Fmt(small, "%s<Unable to Create  %s", "/tmp/a.sbus"), 7);
    EXPECT_STREQ(small, "Unable ");
    char exact[4];
    EXPECT_EQ(Fmt(exact, "%s<abc"), 3);
    EXPECT_STREQ(exact, "abc");

    EXPECT_EQ(Fmt(buf, "plain %d", 1), -1);  // not a "%s<" format
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(Fmt(buf, sizeof buf, nullptr), -1);
    EXPECT_EQ(Fmt(static_cast<char*>(nullptr), 0, "%s<x"), -1);
}

TEST(RuntimeText, GetDirGivesTheWorkingDirectoryWithoutTrailingSeparator) {
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    char path[4096];
    const int result = GetDir(path);
    const QString expected = QDir::currentPath();
    char tiny[4];
    ::testing::internal::CaptureStderr();
    const int tinyResult = GetDir(tiny);
    const std::string err = ::testing::internal::GetCapturedStderr();
    QDir::setCurrent(old);

    EXPECT_EQ(result, UIE_NO_ERROR);
    EXPECT_EQ(std::string(path), expected.toStdString());
    EXPECT_NE(path[std::strlen(path) - 1], '/');
    EXPECT_LT(tinyResult, 0);  // never a cut directory
    EXPECT_STREQ(tiny, "");
    EXPECT_NE(err.find("GetDir"), std::string::npos);
}

TEST(RuntimeText, DelayBlocksForTheTimeGiven) {
    QElapsedTimer t;
    t.start();
    Delay(0.05);
    EXPECT_GE(t.elapsed(), 49);
    t.restart();
    Delay(-1);
    Delay(std::nan(""));
    EXPECT_LT(t.elapsed(), 1000);
}

TEST_F(RuntimeTest, PanelPictureIsSavedAsPng) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("panel.png").toStdString();
    SetCtrlVal(panel, LED, 1);
    ASSERT_TRUE(rt::savePng(panel, file));
    QImage image(QString::fromStdString(file));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 400);
    EXPECT_EQ(image.height(), 380);
    // The panel's own grey background, and the lit red LED at its place.
    EXPECT_EQ(image.pixelColor(5, 5), QColor(0xC0, 0xC0, 0xC0));
    const QColor lamp = image.pixelColor(150, 320);
    EXPECT_GT(lamp.red(), 150);
    EXPECT_LT(lamp.green(), 100);
    EXPECT_FALSE(rt::savePng(panel, ""));
    EXPECT_FALSE(rt::savePng(9999, file));
}

TEST(RuntimeStart, InitialisingTwiceIsHarmless) {
    char name[] = "again";
    char* argv[] = {name, nullptr};
    EXPECT_NE(InitCVIRTE(nullptr, argv, nullptr), 0);
    EXPECT_EQ(SetSystemPopupsAttribute(ATTR_SUPPRESS_EVENT_PROCESSING, 1), UIE_NO_ERROR);
}
