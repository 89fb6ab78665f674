#pragma once

#include "Platform/base/Export.h"

#include <string>
#include <vector>

namespace scrivlet {

enum class AlertStyle { warning, informational, critical };

// Which button ended a modal alert: the first added button answers
// NSAlertFirstButtonReturn, the next one the value after it.
using ModalResponse = long;
inline constexpr ModalResponse NSAlertFirstButtonReturn = 1000;
inline constexpr ModalResponse NSAlertSecondButtonReturn = 1001;
inline constexpr ModalResponse NSAlertThirdButtonReturn = 1002;
// The alert ended without a button: nobody was there to answer it.
inline constexpr ModalResponse NSModalResponseAbort = -1001;

// What an alert shows, as the desktop receives it. An alert without buttons shows "OK".
struct SCRIVLET_PLATFORM_API AlertContents {
    AlertStyle style = AlertStyle::warning;
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;
    friend bool operator==(const AlertContents&, const AlertContents&) = default;
};

// A modal alert: its texts and buttons, shown by the desktop until the user answers.
class SCRIVLET_PLATFORM_API Alert {
public:
    AlertStyle alertStyle = AlertStyle::warning;
    std::string messageText;
    std::string informativeText;

    void addButtonWithTitle(std::string title) { buttons_.push_back(std::move(title)); }
    const std::vector<std::string>& buttons() const { return buttons_; }

    // Blocks until answered (the run loop does not deliver other events meanwhile).
    ModalResponse runModal() const;

private:
    std::vector<std::string> buttons_;
};

} // namespace scrivlet
