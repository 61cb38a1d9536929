#include "platform/MessageBox.h"

#include <cstdio>
#include <cstdlib>

#include <gtk/gtk.h>

namespace {
MessageBoxHook installedHook = nullptr;

bool displayNamed() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}
} // namespace

void setMessageBoxHook(MessageBoxHook hook) {
    installedHook = hook;
}

bool initGtkOnce() {
    static int state = -1; // -1 not tried, 0 failed, 1 ready
    if (state < 0) {
        // GTK would otherwise switch LC_NUMERIC and change how numbers parse.
        gtk_disable_setlocale();
        state = (displayNamed() && gtk_init_check(nullptr, nullptr)) ? 1 : 0;
    }
    return state == 1;
}

void showMessageBox(const std::string& caption, const std::string& text, MessageIcon icon) {
    if (installedHook != nullptr) {
        installedHook(caption, text, icon);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    if (!initGtkOnce()) {
        return;
    }
    GtkWidget* dialog =
        gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL,
                               icon == MessageIcon::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_OTHER,
                               GTK_BUTTONS_OK, "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    // Let the box disappear before the program carries on.
    while (gtk_events_pending()) {
        gtk_main_iteration();
    }
}
