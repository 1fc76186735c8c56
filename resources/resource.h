// Resource numbers shared by the resource script and the code.
#pragma once

#define IDD_SETTINGS 101
#define IDC_WORKING_DIRECTORY 1003
#define IDC_COMMAND_LINE 1004
