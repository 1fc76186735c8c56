// Dialog templates as the module carries them on Linux, where there is no
// resource section: the fields of a Windows dialog template and its items,
// in a table that the module defines (resources/dialog_templates.cpp) and
// the terminal dialog manager (dialog.cpp) reads. Also the window and control
// styles that templates use, with their Windows values.
#pragma once

#include <windows.h>

// Window styles.
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L

// Dialog styles.
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L

// Control styles.
#define SS_LEFT 0x0L
#define SS_NOPREFIX 0x80L
#define SS_ENDELLIPSIS 0x4000L
#define ES_AUTOHSCROLL 0x80L
#define BS_PUSHBUTTON 0x0L
#define BS_DEFPUSHBUTTON 0x1L
#define BS_TYPEMASK 0xFL

// Predefined control classes, by the ordinals templates give them.
enum DialogClass : WORD { DIALOG_BUTTON = 0x0080, DIALOG_EDIT = 0x0081, DIALOG_STATIC = 0x0082 };

enum { DIALOG_MAX_ITEMS = 16 };

// One control: DLGITEMTEMPLATE with its class ordinal and text.
struct DialogItemTemplate {
    WORD windowClass;
    WORD id; // 0xFFFF for a control without an id
    const char* text;
    short x, y, cx, cy;
    DWORD style;
};

// One dialog: DLGTEMPLATE with its caption and font, and its items in
// template (tab) order.
struct DialogTemplate {
    WORD resourceId;
    DWORD style;
    short x, y, cx, cy;
    const char* caption;
    WORD pointSize;
    const char* typeface;
    int itemCount;
    DialogItemTemplate items[DIALOG_MAX_ITEMS];
};

// The module's templates (resources/dialog_templates.cpp), one of the
// module's own sources, as its resource script is on Windows.
extern const DialogTemplate ModuleDialogTemplates[];
extern const int ModuleDialogTemplateCount;

// FindResourceA and LoadResource for RT_DIALOG in one: the module's template
// with the given number (MAKEINTRESOURCEA), or NULL (and ERROR_RESOURCE_NAME_NOT_FOUND) when there
// is none or the name is a string. The instance is not looked at: the layer
// serves one module.
const DialogTemplate* FindDialogTemplate(HINSTANCE instance, LPCSTR name);
