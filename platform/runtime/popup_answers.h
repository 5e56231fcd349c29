// Who answers the run-time's popups. By default the operator does, in modal
// dialogs. A program that runs without an operator installs answers of its
// own, which never block.
#pragma once

#include <string>

namespace kovra610::runtime {

// A file popup as the program asked for it (FileSelectPopup's arguments).
struct FilePopupRequest {
    std::string directory, fileSpec, typeList, title;
    int buttonLabel = 0, restrictDirectory = 0, restrictExtension = 0, allowCancel = 0,
        allowMakeDirectory = 0;
};

class PopupAnswers {
public:
    virtual ~PopupAnswers() = default;
    // The file chosen: a path (a relative one is taken in the popup's
    // directory), or "" to cancel.
    virtual std::string chooseFile(const FilePopupRequest& request) = 0;
    // The message is acknowledged when this returns.
    virtual void acknowledge(const std::string& title, const std::string& message) = 0;
};

// Popups are answered by `answers` from now on (the run-time does not own
// them); nullptr brings back the modal dialogs.
void installPopupAnswers(PopupAnswers* answers);

// Popups of a run without an operator: message popups are collected for the
// run to report, file popups are cancelled. Nothing ever waits.
class CollectedPopups : public PopupAnswers {
public:
    std::string chooseFile(const FilePopupRequest&) override { return {}; }
    void acknowledge(const std::string& title, const std::string& message) override;

    // The messages collected since the last call, "title: message" joined by
    // "; ", or "" for none.
    std::string take();

private:
    std::string collected_;
};

}  // namespace kovra610::runtime
