#include "platform/SetupDialog.h"

#include <GLFW/glfw3.h>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <vector>

#include "platform/MessageBox.h"
#include "platform/ModeList.h"

namespace {

struct DialogWidgets {
    GtkWidget* dialog = nullptr;
    GtkWidget* start = nullptr;
    GtkWidget* combo = nullptr;
    GtkWidget* fullscreen = nullptr;
};

bool isInside(GtkWidget* widget, GtkWidget* container) {
    return widget != nullptr && (widget == container || gtk_widget_is_ancestor(widget, container));
}

// Enter means "start" unless a button other than "start" has the focus, as with a default
// push button. A focused combo box would otherwise swallow Enter to pop its list up, and a
// focused check box would toggle.
gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
    const auto* widgets = static_cast<const DialogWidgets*>(data);
    if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter &&
        event->keyval != GDK_KEY_ISO_Enter)
        return FALSE;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(widgets->dialog));
    if (!isInside(focus, widgets->combo) && focus != widgets->fullscreen)
        return FALSE;
    if (gtk_widget_is_sensitive(widgets->start))
        gtk_dialog_response(GTK_DIALOG(widgets->dialog), GTK_RESPONSE_OK);
    return TRUE;
}

std::vector<VideoMode> toVideoModes(const GLFWvidmode* modes, int count) {
    std::vector<VideoMode> out;
    if (modes == nullptr || count <= 0)
        return out;
    out.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        out.push_back({modes[i].width, modes[i].height, modes[i].redBits, modes[i].greenBits,
                       modes[i].blueBits, modes[i].refreshRate});
    return out;
}

} // namespace

int runSetupDialog(const std::string& title, const GLFWvidmode* modes, int count,
                   DialogChoice& choice) {
    if (!initGtkOnce()) {
        showMessageBox(title, "The setup dialog needs a display.", MessageIcon::Error);
        return 0;
    }

    const std::vector<VideoMode> videoModes = toVideoModes(modes, count);
    const int modeCount = static_cast<int>(videoModes.size());
    const ModeList list = buildModeList(videoModes.data(), modeCount);

    // The window: caption, buttons in the order cancel, start; "start" is the default.
    DialogWidgets widgets;
    widgets.dialog = gtk_dialog_new();
    GtkWindow* window = GTK_WINDOW(widgets.dialog);
    gtk_window_set_title(window, title.c_str());
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_modal(window, TRUE);
    gtk_dialog_add_button(GTK_DIALOG(widgets.dialog), "cancel", GTK_RESPONSE_CANCEL);
    widgets.start = gtk_dialog_add_button(GTK_DIALOG(widgets.dialog), "start", GTK_RESPONSE_OK);

    // The mode list and the check box.
    GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(widgets.dialog));
    gtk_container_set_border_width(GTK_CONTAINER(content), 8);
    gtk_box_set_spacing(GTK_BOX(content), 6);
    widgets.combo = gtk_combo_box_text_new();
    for (const std::string& line : list.lines)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(widgets.combo), line.c_str());
    gtk_box_pack_start(GTK_BOX(content), widgets.combo, FALSE, FALSE, 0);
    widgets.fullscreen = gtk_check_button_new_with_label("fullscreen");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widgets.fullscreen), choice.fullscreen);
    gtk_box_pack_start(GTK_BOX(content), widgets.fullscreen, FALSE, FALSE, 0);

    if (list.lines.empty()) {
        // Nothing to start with: say why instead of offering a button that cannot work.
        GtkWidget* reason = gtk_label_new("No 24-bit screen mode is available.");
        gtk_box_pack_start(GTK_BOX(content), reason, FALSE, FALSE, 0);
        gtk_widget_set_sensitive(widgets.combo, FALSE);
        gtk_widget_set_sensitive(widgets.start, FALSE);
    } else {
        gtk_combo_box_set_active(GTK_COMBO_BOX(widgets.combo), 0);
    }

    g_signal_connect(widgets.dialog, "key-press-event", G_CALLBACK(onKeyPress), &widgets);
    gtk_widget_show_all(widgets.dialog);
    if (gtk_widget_is_sensitive(widgets.start)) {
        gtk_widget_set_can_default(widgets.start, TRUE);
        gtk_widget_grab_default(widgets.start);
        gtk_widget_grab_focus(widgets.start);
    } else {
        gtk_widget_grab_focus(
            gtk_dialog_get_widget_for_response(GTK_DIALOG(widgets.dialog), GTK_RESPONSE_CANCEL));
    }

    // Escape and the close box answer GTK_RESPONSE_DELETE_EVENT; only "start" with a mode
    // behind the selected line leaves with 1.
    int result = 0;
    for (;;) {
        const int response = gtk_dialog_run(GTK_DIALOG(widgets.dialog));
        if (response != GTK_RESPONSE_OK)
            break;
        VideoMode mode{};
        const int line = gtk_combo_box_get_active(GTK_COMBO_BOX(widgets.combo));
        if (!modeForLine(list, line, videoModes.data(), modeCount, mode))
            continue;
        choice.width = mode.width;
        choice.height = mode.height;
        choice.fullscreen =
            gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widgets.fullscreen)) != FALSE;
        result = 1;
        break;
    }

    // Let the dialog vanish from the screen before any GL window appears.
    gtk_widget_destroy(widgets.dialog);
    while (gtk_events_pending())
        gtk_main_iteration();
    return result;
}
