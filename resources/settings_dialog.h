// The settings dialog's template (number IDD_SETTINGS), written once as
// macros. The resource script turns them into a DIALOG statement for Windows;
// dialog_templates.cpp turns them into the table the Linux dialog manager
// reads. Only macros live here, so windres and the C++ compiler can both read
// it. Sizes and positions are in dialog units.
#pragma once

#include "resource.h"

#define SETTINGS_DIALOG_X 0
#define SETTINGS_DIALOG_Y 0
#define SETTINGS_DIALOG_WIDTH 210
#define SETTINGS_DIALOG_HEIGHT 117
#define SETTINGS_DIALOG_STYLE (DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU)
#define SETTINGS_DIALOG_CAPTION "Run external preprocessor plug-in Settings"
#define SETTINGS_DIALOG_FONT_SIZE 8
#define SETTINGS_DIALOG_FONT_NAME "MS Sans Serif"

// The controls in template order, which is the tab order. Each entry is
// CONTROL(class, text, id, left, top, width, height, style) for a CONTROL
// macro of the includer's choosing.
#define SETTINGS_DIALOG_CONTROLS(CONTROL)                                                          \
    CONTROL(DIALOG_CLASS_STATIC, "&Working directory", -1, 6, 10, 56, 8,                           \
            WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT)                                            \
    CONTROL(DIALOG_CLASS_EDIT, "", IDC_WORKING_DIRECTORY, 67, 7, 138, 14,                          \
            WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL)                       \
    CONTROL(DIALOG_CLASS_STATIC, "&Command line", -1, 7, 27, 45, 8,                                \
            WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT)                                            \
    CONTROL(DIALOG_CLASS_EDIT, "", IDC_COMMAND_LINE, 67, 24, 138, 14,                              \
            WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL)                       \
    CONTROL(DIALOG_CLASS_BUTTON, "OK", IDOK, 82, 98, 50, 14,                                       \
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON)                                 \
    CONTROL(DIALOG_CLASS_BUTTON, "Cancel", IDCANCEL, 133, 98, 50, 14,                              \
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON)
