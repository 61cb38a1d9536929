#pragma once
// Message boxes on Linux: one line "caption: text" on stderr, then a modal GTK dialog
// with one OK button when a display can be opened. Tests install a hook to capture
// the messages instead of showing them.

#include <string>

enum class MessageIcon { None, Error };

void showMessageBox(const std::string& caption, const std::string& text, MessageIcon icon);

// A hook replaces the whole box (stderr line and dialog). Null restores the default.
using MessageBoxHook = void (*)(const std::string& caption, const std::string& text,
                                MessageIcon icon);
void setMessageBoxHook(MessageBoxHook hook);

// GTK must never change the process locale: "%d" and "%f" parse the same under any LC_ALL.
// Safe to call more than once; returns false when no display can be opened.
bool initGtkOnce();
