// Resource numbers shared by the resource script and the code, and the class
// ordinals of the predefined controls as dialog templates carry them.
#pragma once

#define IDD_SETTINGS 101
#define IDC_WORKING_DIRECTORY 1003
#define IDC_COMMAND_LINE 1004

#define IDD_PROGRESS 102
#define IDC_PROGRESS_COMMAND 1010
#define IDC_PROGRESS_TIME 1011

#define DIALOG_CLASS_BUTTON 0x0080
#define DIALOG_CLASS_EDIT 0x0081
#define DIALOG_CLASS_STATIC 0x0082
