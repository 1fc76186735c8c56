// Character sets for the tests on Windows (text_codes.h): the code pages of
// MultiByteToWideChar and WideCharToMultiByte.
#include "text_codes.h"

#include <stdlib.h>

#include <windows.h>

namespace {

UINT CodePage(const std::string& set) {
    if (set == "ANSI")
        return CP_ACP;
    if (set == "OEM")
        return CP_OEMCP;
    if (set == "UTF-8")
        return CP_UTF8;
    return (UINT)strtoul(set.c_str(), nullptr, 10);
}

bool ToWide(const std::string& text, const std::string& set, std::wstring& wide) {
    if (set == "UTF-16LE") {
        if (text.size() % 2 != 0)
            return false;
        wide.resize(text.size() / 2);
        for (size_t i = 0; i < wide.size(); i++)
            wide[i] = (wchar_t)((unsigned char)text[2 * i] | (unsigned char)text[2 * i + 1] << 8);
        return true;
    }
    if (text.empty()) {
        wide.clear();
        return true;
    }
    UINT codePage = CodePage(set);
    int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(),
                                    nullptr, 0);
    if (units == 0)
        return false;
    wide.resize((size_t)units);
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), (int)text.size(), &wide[0],
                        units);
    return true;
}

bool FromWide(const std::wstring& wide, const std::string& set, std::string& text) {
    text.clear();
    if (set == "UTF-16LE") {
        for (wchar_t unit : wide) {
            text += (char)(unit & 0xFF);
            text += (char)(unit >> 8 & 0xFF);
        }
        return true;
    }
    if (wide.empty())
        return true;
    UINT codePage = CodePage(set);
    bool utf8 = codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8);
    BOOL used = FALSE;
    DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int length = WideCharToMultiByte(codePage, flags, wide.data(), (int)wide.size(), nullptr, 0,
                                     nullptr, utf8 ? nullptr : &used);
    if (length == 0 || used)
        return false;
    text.resize((size_t)length);
    WideCharToMultiByte(codePage, flags, wide.data(), (int)wide.size(), &text[0], length, nullptr,
                        nullptr);
    return true;
}

} // namespace

bool Recode(const std::string& text, const std::string& from, const std::string& to,
            std::string& converted) {
    std::wstring wide;
    return ToWide(text, from, wide) && FromWide(wide, to, converted);
}

bool AnsiIsUtf8() {
    return GetACP() == CP_UTF8;
}

bool EnvironmentLocaleExists() {
    return true;
}
