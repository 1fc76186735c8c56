// The progress window's template (number IDD_PROGRESS), shown while a long
// run's program works: what runs, how long it has run, and Cancel. Written
// once as macros, as the settings dialog's template is (settings_dialog.h):
// the resource script and dialog_templates.cpp both expand them. Sizes and
// positions are in dialog units. The window is not visible when created: the
// run centres it on its owner first.
#pragma once

#include "resource.h"

#define PROGRESS_DIALOG_X 0
#define PROGRESS_DIALOG_Y 0
#define PROGRESS_DIALOG_WIDTH 240
#define PROGRESS_DIALOG_HEIGHT 66
#define PROGRESS_DIALOG_STYLE (DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU)
#define PROGRESS_DIALOG_CAPTION "Run external preprocessor plug-in"
#define PROGRESS_DIALOG_FONT_SIZE 8
#define PROGRESS_DIALOG_FONT_NAME "MS Sans Serif"

// The command line is one line, shortened with "..." where it does not fit,
// and its "&" is shown as it is. The controls in template (tab) order, each
// CONTROL(class, text, id, left, top, width, height, style).
#define PROGRESS_DIALOG_CONTROLS(CONTROL)                                                          \
    CONTROL(DIALOG_CLASS_STATIC, "Running:", -1, 7, 7, 226, 8, WS_CHILD | WS_VISIBLE | SS_LEFT)    \
    CONTROL(DIALOG_CLASS_STATIC, "", IDC_PROGRESS_COMMAND, 7, 18, 226, 8,                          \
            WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS)                        \
    CONTROL(DIALOG_CLASS_STATIC, "", IDC_PROGRESS_TIME, 7, 31, 160, 8,                             \
            WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX)                                         \
    CONTROL(DIALOG_CLASS_BUTTON, "Cancel", IDCANCEL, 183, 45, 50, 14,                              \
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON)
