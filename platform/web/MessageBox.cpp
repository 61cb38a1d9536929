// Message boxes in the page: "caption: text" on the browser's console, and the box itself
// as a block in the page's message list (see web/page.js).

#include "platform/MessageBox.h"

#include <emscripten.h>

namespace {

MessageBoxHook installedHook = nullptr;

// clang-format off
EM_JS(void, pageMessage, (const char* caption, const char* text, int error), {
    var c = UTF8ToString(caption);
    var t = UTF8ToString(text);
    console.error(c + ": " + t);
    if (Module.page && Module.page.showMessage) {
        Module.page.showMessage(c, t, error !== 0);
    }
});
// clang-format on

} // namespace

void setMessageBoxHook(MessageBoxHook hook) {
    installedHook = hook;
}

// No toolkit on the web; the page shows the boxes and never changes the locale.
bool initGtkOnce() {
    return false;
}

void showMessageBox(const std::string& caption, const std::string& text, MessageIcon icon) {
    if (installedHook != nullptr) {
        installedHook(caption, text, icon);
        return;
    }
    pageMessage(caption.c_str(), text.c_str(), icon == MessageIcon::Error ? 1 : 0);
}
