// Character sets for the tests on Linux (text_codes.h): iconv, the ANSI and
// OEM sets being the character set of the environment's locale.
#include "text_codes.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

namespace {

// The environment's locale's character set; the plain C locale's (ASCII)
// counts as UTF-8, as the platform layer takes it.
std::string LocaleSet() {
    locale_t locale = newlocale(LC_CTYPE_MASK, "", (locale_t)0);
    if (locale == (locale_t)0)
        return "UTF-8";
    std::string set = nl_langinfo_l(CODESET, locale);
    freelocale(locale);
    return set == "ANSI_X3.4-1968" ? "UTF-8" : set;
}

std::string IconvName(const std::string& set) {
    if (set == "ANSI" || set == "OEM")
        return LocaleSet();
    if (set == "UTF-8" || set == "65001")
        return "UTF-8";
    if (set == "UTF-16LE")
        return set;
    return "CP" + set;
}

} // namespace

bool Recode(const std::string& text, const std::string& from, const std::string& to,
            std::string& converted) {
    iconv_t state = iconv_open(IconvName(to).c_str(), IconvName(from).c_str());
    if (state == (iconv_t)-1)
        return false;
    converted.assign(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* out = &converted[0];
    size_t outLeft = converted.size();
    size_t done = iconv(state, &in, &inLeft, &out, &outLeft);
    iconv_close(state);
    if (done == (size_t)-1 || inLeft != 0)
        return false;
    converted.resize(converted.size() - outLeft);
    return true;
}

bool AnsiIsUtf8() {
    std::string set = LocaleSet();
    return set == "UTF-8" || set == "utf8";
}

bool EnvironmentLocaleExists() {
    locale_t locale = newlocale(LC_ALL_MASK, "", (locale_t)0);
    if (locale == (locale_t)0)
        return false;
    freelocale(locale);
    return true;
}
