#include "report/Errors.h"

#include "platform/MessageBox.h"

namespace {
std::vector<std::string>& list() {
    static std::vector<std::string> errors;
    return errors;
}
}  // namespace

void reportError(const std::string& message) {
    list().push_back(message);
    showMessageBox("ERROR", message, MessageIcon::Error);
}

std::string errorListText() {
    std::string text;
    for (const std::string& message : list()) {
        text += "- " + message + "\n";
    }
    return text;
}

const std::vector<std::string>& errorList() { return list(); }

int showFatal(const std::string& text) {
    showMessageBox("Error", text, MessageIcon::Error);
    return 1;
}

void clearErrorList() { list().clear(); }
