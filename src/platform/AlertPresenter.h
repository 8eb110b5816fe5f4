#pragma once

#include <string>
#include <vector>

namespace corvex {

struct Alert {
    // Information is for news the user asked for (a step ended well); Warning is for
    // failures and for questions whose wrong answer loses something.
    enum class Kind { Warning, Information };

    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons { "Ok" };
    Kind kind = Kind::Warning;
    // The button Return presses. A question that erases or replaces something makes
    // its safe answer ("No") the default.
    int defaultButton = 0;
};

// Shows a modal alert and returns the index of the button pressed. The desktop
// program shows a message box; the command line prints to stderr.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual int showAlert(const Alert& alert) = 0;
};

} // namespace corvex
