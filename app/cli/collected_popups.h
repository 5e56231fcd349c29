// Popups of a run without an operator: message popups are collected for the
// run to report, file popups are cancelled. Nothing ever waits.
#pragma once

#include <string>

#include "platform/runtime/popup_answers.h"

namespace kovra610::cli {

class CollectedPopups : public kovra610::runtime::PopupAnswers {
public:
    std::string chooseFile(const kovra610::runtime::FilePopupRequest&) override { return {}; }
    void acknowledge(const std::string& title, const std::string& message) override;

    // The messages collected since the last call, "title: message" joined by
    // "; ", or "" for none.
    std::string take();

private:
    std::string collected_;
};

}  // namespace kovra610::cli
