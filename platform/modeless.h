// The one modeless dialog (the progress window): dialog.cpp keeps its
// controls and texts beside the modal dialog's, so that the dialog-item
// calls serve both; window.cpp creates it, shows it and destroys it.
#pragma once

#include <dialog_template.h>

// Takes the modeless record for the template and the procedure, with each
// control's text from the template, and returns its handle. The procedure
// is not called here. NULL with ERROR_BUSY when the record is in use.
HWND OpenModelessDialog(const DialogTemplate* source, DLGPROC procedure);

// Sends a message to the modeless dialog's procedure; 0 when it is closed.
INT_PTR SendModelessMessage(UINT message, WPARAM wParam, LPARAM lParam);

// Whether the handle is the open modeless dialog; the open modal one.
bool IsModelessDialog(HWND window);
bool IsModalDialog(HWND window);

// Frees the record; its handle is no dialog from then on.
void CloseModelessDialog();

// The open modeless dialog's control at a template index: its item and its
// current text. NULL past the last control or when no dialog is open.
const char* ModelessControl(int index, const DialogItemTemplate** item);

// Called by SetDlgItemTextA after a text of the modeless dialog changed
// (window.cpp redraws what shows it).
void ModelessTextChanged();

// A message box over the open modal dialog: SuspendModalDialog gives the
// terminal back as it was found (its modes and, where the terminal has one,
// its main screen), true when a dialog held it; ResumeModalDialog takes it
// again and redraws the whole dialog.
bool SuspendModalDialog();
void ResumeModalDialog();
