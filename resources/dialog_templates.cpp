// The module's dialog templates on Linux: the counterpart of the DIALOG
// statements in external_preprocessor.rc, built from the same macros, so the
// two cannot drift apart. The resource compiler adds DS_SETFONT to a template
// that names a font; so does this table.
#include <dialog_template.h>

#include "progress_dialog.h"
#include "settings_dialog.h"

#define TEMPLATE_ITEM(windowClass, text, id, x, y, cx, cy, style)                                  \
    {(WORD)(windowClass), (WORD)(id), text, x, y, cx, cy, (DWORD)(style)},

// One "+1" per control, added to the 0 it follows: parentheses would break the
// sum.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define COUNT_ITEM(windowClass, text, id, x, y, cx, cy, style) +1

const DialogTemplate ModuleDialogTemplates[] = {
    {IDD_SETTINGS,
     (DWORD)(SETTINGS_DIALOG_STYLE | DS_SETFONT),
     SETTINGS_DIALOG_X,
     SETTINGS_DIALOG_Y,
     SETTINGS_DIALOG_WIDTH,
     SETTINGS_DIALOG_HEIGHT,
     SETTINGS_DIALOG_CAPTION,
     SETTINGS_DIALOG_FONT_SIZE,
     SETTINGS_DIALOG_FONT_NAME,
     0 SETTINGS_DIALOG_CONTROLS(COUNT_ITEM),
     {SETTINGS_DIALOG_CONTROLS(TEMPLATE_ITEM)}},
    {IDD_PROGRESS,
     (DWORD)(PROGRESS_DIALOG_STYLE | DS_SETFONT),
     PROGRESS_DIALOG_X,
     PROGRESS_DIALOG_Y,
     PROGRESS_DIALOG_WIDTH,
     PROGRESS_DIALOG_HEIGHT,
     PROGRESS_DIALOG_CAPTION,
     PROGRESS_DIALOG_FONT_SIZE,
     PROGRESS_DIALOG_FONT_NAME,
     0 PROGRESS_DIALOG_CONTROLS(COUNT_ITEM),
     {PROGRESS_DIALOG_CONTROLS(TEMPLATE_ITEM)}},
};

const int ModuleDialogTemplateCount =
    sizeof ModuleDialogTemplates / sizeof ModuleDialogTemplates[0];

static_assert(0 SETTINGS_DIALOG_CONTROLS(COUNT_ITEM) <= DIALOG_MAX_ITEMS,
              "the settings dialog has more controls than a template holds");
static_assert(0 PROGRESS_DIALOG_CONTROLS(COUNT_ITEM) <= DIALOG_MAX_ITEMS,
              "the progress window has more controls than a template holds");
