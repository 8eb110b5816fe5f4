#pragma once

#include <string>
#include <vector>

namespace corvex {

struct Alert {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons { "Ok" };
};

// Shows a modal alert and returns the index of the button pressed. The desktop
// program shows a message box; the command line prints to stderr.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual int showAlert(const Alert& alert) = 0;
};

} // namespace corvex
