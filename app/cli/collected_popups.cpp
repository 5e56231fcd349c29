#include "app/cli/collected_popups.h"

#include <utility>

namespace kovra610::cli {

void CollectedPopups::acknowledge(const std::string& title, const std::string& message) {
    if (!collected_.empty()) collected_ += "; ";
    collected_ += title + ": " + message;
}

std::string CollectedPopups::take() {
    return std::exchange(collected_, std::string());
}

}  // namespace kovra610::cli
