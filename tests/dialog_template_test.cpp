// The settings dialog's template 101 as the module carries it: on Windows the
// RT_DIALOG resource of the built DLL, parsed from its bytes; on Linux the
// table the terminal dialog manager reads. Both are held against one list of
// the expected values, written out here as numbers.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string>
#include <vector>

#ifdef _WIN32
#include "dialog_module.h"
#else
#include <dialog_template.h>
#endif

namespace {

struct Item {
    unsigned windowClass; // ordinal; 0 when the template names the class by a string
    unsigned id;
    std::string text;
    int x, y, cx, cy;
    unsigned long style;
};

struct Template {
    unsigned long style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    int pointSize = 0;
    std::string typeface;
    std::vector<Item> items;
};

// WS_CHILD | WS_VISIBLE is 0x50000000; WS_GROUP 0x20000, WS_TABSTOP 0x10000,
// WS_BORDER 0x800000, ES_AUTOHSCROLL 0x80, BS_DEFPUSHBUTTON 1, SS_LEFT 0.
const Item ExpectedItems[] = {
    {0x82, 0xFFFF, "&Working directory", 6, 10, 56, 8, 0x50020000},
    {0x81, 1003, "", 67, 7, 138, 14, 0x50810080},
    {0x82, 0xFFFF, "&Command line", 7, 27, 45, 8, 0x50020000},
    {0x81, 1004, "", 67, 24, 138, 14, 0x50810080},
    {0x80, 1, "OK", 82, 98, 50, 14, 0x50010001},
    {0x80, 2, "Cancel", 133, 98, 50, 14, 0x50010000},
};

#ifdef _WIN32
// Reads a DLGTEMPLATE and its DLGITEMTEMPLATEs, 16-bit word by word.
struct Reader {
    const WORD* at;
    unsigned Word() {
        return *at++;
    }
    unsigned long Dword() {
        unsigned long low = Word();
        return low | (unsigned long)Word() << 16;
    }
    std::string Text() {
        std::string text;
        while (WORD c = *at++)
            text += c < 128 ? (char)c : '?';
        return text;
    }
    // A class or a text: an ordinal after 0xFFFF, else a string.
    unsigned OrdinalOr(std::string& text) {
        if (*at != 0xFFFF) {
            text = Text();
            return 0;
        }
        at++;
        return Word();
    }
    void AlignToDword() {
        if ((uintptr_t)at % 4 != 0)
            at++;
    }
};

bool LoadTemplate(Template& result) {
    static ModuleCopy copy;
    if (!copy.Load())
        return false;
    HRSRC found = FindResourceA(copy.Module(), MAKEINTRESOURCEA(101), (LPCSTR)RT_DIALOG);
    const void* data = found ? LockResource(LoadResource(copy.Module(), found)) : nullptr;
    if (data == nullptr)
        return false;
    Reader read{(const WORD*)data};
    std::string unused;
    result.style = read.Dword();
    read.Dword();
    unsigned count = read.Word();
    result.x = (short)read.Word(), result.y = (short)read.Word();
    result.cx = (short)read.Word(), result.cy = (short)read.Word();
    read.OrdinalOr(unused); // menu
    read.OrdinalOr(unused); // class
    result.caption = read.Text();
    if (result.style & DS_SETFONT) {
        result.pointSize = (int)read.Word();
        result.typeface = read.Text();
    }
    for (unsigned i = 0; i < count; i++) {
        Item item;
        read.AlignToDword();
        item.style = read.Dword();
        read.Dword();
        item.x = (short)read.Word(), item.y = (short)read.Word();
        item.cx = (short)read.Word(), item.cy = (short)read.Word();
        item.id = read.Word();
        item.windowClass = read.OrdinalOr(unused);
        read.OrdinalOr(item.text);
        unsigned extra = read.Word();
        read.at = (const WORD*)((const char*)read.at + extra);
        result.items.push_back(item);
    }
    return true;
}
#else
bool LoadTemplate(Template& result) {
    const DialogTemplate* found = FindDialogTemplate(nullptr, MAKEINTRESOURCEA(101));
    if (found == nullptr)
        return false;
    result = {found->style,   found->x,         found->y,        found->cx, found->cy,
              found->caption, found->pointSize, found->typeface, {}};
    for (int i = 0; i < found->itemCount; i++) {
        const DialogItemTemplate& item = found->items[i];
        result.items.push_back(
            {item.windowClass, item.id, item.text, item.x, item.y, item.cx, item.cy, item.style});
    }
    return true;
}
#endif

TEST(DialogTemplate, SettingsTemplateHasTheSettingsLayout) {
    Template loaded;
    ASSERT_TRUE(LoadTemplate(loaded));
    // DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, and DS_SETFONT for the font.
    EXPECT_EQ(loaded.style, 0x80C800C0ul);
    EXPECT_EQ(loaded.x, 0);
    EXPECT_EQ(loaded.y, 0);
    EXPECT_EQ(loaded.cx, 210);
    EXPECT_EQ(loaded.cy, 117);
    EXPECT_EQ(loaded.caption, "Run external preprocessor plug-in Settings");
    EXPECT_EQ(loaded.pointSize, 8);
    EXPECT_EQ(loaded.typeface, "MS Sans Serif");
    ASSERT_EQ(loaded.items.size(), sizeof ExpectedItems / sizeof ExpectedItems[0]);
    for (size_t i = 0; i < loaded.items.size(); i++) {
        const Item& got = loaded.items[i];
        const Item& want = ExpectedItems[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(got.windowClass, want.windowClass);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style, want.style);
    }
}

} // namespace
