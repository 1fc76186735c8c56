// The character sets behind the layer's code pages: which set a code page
// number names, what ANSI means on Linux, and one character at a time in
// each set (charset.h).
//
// ANSI (and OEM, which is the same on Linux) is the character set of the
// user's locale, nl_langinfo(CODESET):
//   - the process's LC_CTYPE, when the host has set one with setlocale;
//   - else the environment's (LC_ALL, LC_CTYPE, LANG), read once with
//     newlocale, so a host that never called setlocale still gets the
//     user's set;
//   - else, when both are the plain C or POSIX locale (or the environment
//     names a locale that is not installed), UTF-8: the set of nearly every
//     Linux name and text, and the one that loses no byte of them.
// A host that sets the C locale itself is taken as one that never set any.
// The set is looked up again on each call, so a later setlocale counts.
#include "charset.h"

#include <errno.h>
#include <langinfo.h>
#include <locale.h>
#include <string.h>
#include <strings.h>

namespace {

// UCS-4 in this machine's byte order: what iconv gives the decoders and
// takes from the encoders.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
const char* const Ucs4 = "UCS-4LE";
#else
const char* const Ucs4 = "UCS-4BE";
#endif

// What iconv_open gives for a set it does not have.
iconv_t NoDescriptor() noexcept {
    return (iconv_t)-1;
}
const WCHAR Undefined = 0xFFFF;

// The Windows code pages the layer has, by iconv's name for each.
struct CodePageName {
    UINT number;
    const char* name;
};
// clang-format off
const CodePageName CodePages[] = {
    {37, "CP037"}, {437, "CP437"}, {500, "CP500"}, {737, "CP737"}, {775, "CP775"}, {850, "CP850"},
    {852, "CP852"}, {855, "CP855"}, {857, "CP857"}, {858, "CP858"}, {860, "CP860"}, {861, "CP861"},
    {862, "CP862"}, {863, "CP863"}, {864, "CP864"}, {865, "CP865"}, {866, "CP866"}, {869, "CP869"},
    {874, "CP874"}, {875, "CP875"}, {932, "CP932"}, {936, "CP936"}, {949, "CP949"}, {950, "CP950"},
    {1026, "CP1026"}, {1250, "CP1250"}, {1251, "CP1251"}, {1252, "CP1252"}, {1253, "CP1253"},
    {1254, "CP1254"}, {1255, "CP1255"}, {1256, "CP1256"}, {1257, "CP1257"}, {1258, "CP1258"},
    {1361, "CP1361"}, {10000, "MACINTOSH"}, {20127, "ANSI_X3.4-1968"}, {20866, "KOI8-R"},
    {20932, "EUC-JP"}, {20936, "EUC-CN"}, {21866, "KOI8-U"}, {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"}, {28593, "ISO-8859-3"}, {28594, "ISO-8859-4"}, {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"}, {28598, "ISO-8859-8"}, {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"}, {50220, "ISO-2022-JP"}, {51932, "EUC-JP"},
    {51949, "EUC-KR"}, {54936, "GB18030"},
};
// clang-format on

// Other names a locale gives its set by, with the code page that holds it
// (for GB2312 and BIG5 a superset, as Windows itself uses for them).
const CodePageName Aliases[] = {
    {65001, "UTF8"}, {20127, "ASCII"},  {20127, "USASCII"}, {936, "GB2312"}, {936, "GBK"},
    {950, "BIG5"},   {932, "SHIFTJIS"}, {932, "SJIS"},      {874, "TIS620"},
};

// A set's name in capitals without its dashes, dots, colons and blanks, and
// "WINDOWS-" as "CP": "iso8859-1" and "ISO-8859-1", "WINDOWS-1252" and
// "CP1252" are the same. Empty when it is too long to be a set's name.
void NormalName(const char* name, char* out, size_t capacity) {
    size_t n = 0;
    if (strncasecmp(name, "windows", 7) == 0) {
        memcpy(out, "CP", 2);
        n = 2;
        name += 7;
    }
    for (; *name != 0; name++) {
        char c = *name;
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            continue;
        if (n + 1 >= capacity) {
            n = 0;
            break;
        }
        out[n++] = c;
    }
    out[n] = 0;
}

const char* NameOfCodePage(UINT number) {
    for (const CodePageName& page : CodePages) {
        if (page.number == number)
            return page.name;
    }
    return nullptr;
}

Charset Utf8Set = {CharsetUtf8, CP_UTF8, "UTF-8",        '?',           true, {}, {},
                   {},          0,       NoDescriptor(), NoDescriptor()};

// The sets opened so far. When all are taken, the oldest is closed and
// opened anew for the next set (a process rarely uses more than two).
const int SlotCount = 12;
Charset Slots[SlotCount];
int SlotsUsed;
int NextRecycled;

// Whether the set is single-byte: each byte read alone gives one character
// of the Basic Multilingual Plane, or none. If so, fills the table.
bool ReadTable(Charset* set) {
    iconv_t decoder = iconv_open(Ucs4, set->name);
    if (decoder == NoDescriptor())
        return false;
    bool single = true;
    for (int b = 0; b < 256 && single; b++) {
        iconv(decoder, nullptr, nullptr, nullptr, nullptr);
        char byte = (char)b;
        char* in = &byte;
        size_t inLeft = 1;
        uint32_t codes[2];
        char* out = (char*)codes;
        size_t outLeft = sizeof codes;
        size_t result = iconv(decoder, &in, &inLeft, &out, &outLeft);
        if (result == (size_t)-1 && errno == EILSEQ) {
            set->units[b] = Undefined;
            continue;
        }
        // Composing sets (CP1255, CP1258) hold a letter back until the end.
        if (result != (size_t)-1)
            iconv(decoder, nullptr, nullptr, &out, &outLeft);
        single = result != (size_t)-1 && outLeft == sizeof codes - sizeof codes[0] &&
                 codes[0] < 0xFFFF && !IsHighSurrogate(codes[0]) && !IsLowSurrogate(codes[0]);
        set->units[b] = (WCHAR)codes[0];
    }
    iconv_close(decoder);
    if (!single)
        return false;
    // A byte of 80-9F that the set leaves undefined is that C1 control, as
    // in Windows' own tables for its sets (1252's 81, 8D, 8F, 90, 9D).
    for (int b = 0x80; b < 0xA0; b++) {
        if (set->units[b] == Undefined)
            set->units[b] = (WCHAR)b;
    }
    // The way back: the characters in order, with their bytes, the lower
    // byte first where two bytes give one character.
    set->sortedCount = 0;
    for (int b = 0; b < 256; b++) {
        if (set->units[b] == Undefined)
            continue;
        int i = set->sortedCount++;
        while (i > 0 && set->sortedUnits[i - 1] > set->units[b]) {
            set->sortedUnits[i] = set->sortedUnits[i - 1];
            set->sortedBytes[i] = set->sortedBytes[i - 1];
            i--;
        }
        set->sortedUnits[i] = set->units[b];
        set->sortedBytes[i] = (BYTE)b;
    }
    return true;
}

void CloseCharset(Charset* set) {
    if (set->decoder != NoDescriptor())
        iconv_close(set->decoder);
    if (set->encoder != NoDescriptor())
        iconv_close(set->encoder);
    set->decoder = NoDescriptor();
    set->encoder = NoDescriptor();
    set->name[0] = 0;
}

// Opens the set into the slot; false when iconv has no such set.
bool OpenInto(Charset* set, const char* name, UINT number) {
    set->codePage = number;
    set->decoder = NoDescriptor();
    set->encoder = NoDescriptor();
    strcpy(set->name, name);
    set->ascii = false;
    if (ReadTable(set)) {
        set->kind = CharsetTable;
        set->ascii = true;
        for (int b = 0; b < 0x80; b++)
            set->ascii = set->ascii && set->units[b] == b;
    } else {
        set->kind = CharsetIconv;
        set->decoder = iconv_open(Ucs4, name);
        set->encoder = iconv_open(name, Ucs4);
        if (set->decoder == NoDescriptor() || set->encoder == NoDescriptor()) {
            CloseCharset(set);
            return false;
        }
    }
    char question[16];
    set->fallback = EncodeOne(set, '?', question) == 1 ? question[0] : '?';
    ResetCharset(set);
    return true;
}

// The set of this iconv name, opened now if it was not.
Charset* OpenCharset(const char* name, UINT number) {
    if (strlen(name) >= sizeof Slots[0].name)
        return nullptr;
    for (int i = 0; i < SlotsUsed; i++) {
        if (strcmp(Slots[i].name, name) == 0)
            return &Slots[i];
    }
    Charset* set;
    if (SlotsUsed < SlotCount) {
        set = &Slots[SlotsUsed];
    } else {
        set = &Slots[NextRecycled];
        NextRecycled = (NextRecycled + 1) % SlotCount;
        CloseCharset(set);
    }
    if (!OpenInto(set, name, number))
        return nullptr;
    if (set == &Slots[SlotsUsed])
        SlotsUsed++;
    return set;
}

bool IsPlainLocale(const char* name) {
    return name == nullptr || strcmp(name, "C") == 0 || strcmp(name, "POSIX") == 0;
}

// The environment's locale, read once, and freed when the module is
// unloaded: a host that loads and unloads the module loses nothing.
struct EnvironmentLocale {
    locale_t locale = newlocale(LC_CTYPE_MASK, "", (locale_t)0);
    EnvironmentLocale() = default;
    EnvironmentLocale(const EnvironmentLocale&) = delete;
    EnvironmentLocale& operator=(const EnvironmentLocale&) = delete;
    ~EnvironmentLocale() {
        if (locale != (locale_t)0)
            freelocale(locale);
    }
};

// The name of the locale's character set, as the top of this file says.
const char* LocaleCodeset() {
    if (!IsPlainLocale(nl_langinfo(_NL_LOCALE_NAME(LC_CTYPE))))
        return nl_langinfo(CODESET);
    static const EnvironmentLocale environment;
    if (environment.locale != (locale_t)0 &&
        !IsPlainLocale(nl_langinfo_l(_NL_LOCALE_NAME(LC_CTYPE), environment.locale)))
        return nl_langinfo_l(CODESET, environment.locale);
    return "UTF-8";
}

} // namespace

UINT CodePageOfCharsetName(const char* name) {
    char normal[48];
    char candidate[48];
    NormalName(name, normal, sizeof normal);
    if (normal[0] == 0)
        return 0;
    for (const CodePageName& alias : Aliases) {
        if (strcmp(alias.name, normal) == 0)
            return alias.number;
    }
    for (const CodePageName& page : CodePages) {
        NormalName(page.name, candidate, sizeof candidate);
        if (strcmp(candidate, normal) == 0)
            return page.number;
    }
    return 0;
}

Charset* AnsiCharset() {
    // The last codeset seen, and the set it gave: the lookup runs again only
    // when the locale's set changes.
    static char lastCodeset[48];
    static char lastName[48];
    static UINT lastNumber;
    const char* codeset = LocaleCodeset();
    if (strlen(codeset) >= sizeof lastCodeset)
        return &Utf8Set;
    if (strcmp(codeset, lastCodeset) != 0) {
        strcpy(lastCodeset, codeset);
        lastNumber = CodePageOfCharsetName(codeset);
        const char* name = lastNumber != 0 ? NameOfCodePage(lastNumber) : codeset;
        strcpy(lastName, name != nullptr ? name : "UTF-8");
    }
    if (lastNumber == CP_UTF8)
        return &Utf8Set;
    Charset* set = OpenCharset(lastName, lastNumber);
    return set != nullptr ? set : &Utf8Set;
}

Charset* CharsetOfCodePage(UINT codePage) {
    switch (codePage) {
    case CP_ACP:
    case CP_OEMCP:
    case 3: // CP_THREAD_ACP
        return AnsiCharset();
    case 2: // CP_MACCP
        codePage = 10000;
        break;
    case CP_UTF8:
        return &Utf8Set;
    default:
        break;
    }
    const char* name = NameOfCodePage(codePage);
    return name != nullptr ? OpenCharset(name, codePage) : nullptr;
}

// Invalid bytes are replaced as Windows replaces them: a byte that starts
// no sequence (80-C1, F5-FF) alone; a sequence cut short by a byte that
// cannot continue it, up to that byte; an overlong form, a surrogate or a
// code point past U+10FFFF, with its first continuation byte; a sequence cut
// short by the end of the input, with the continuation bytes that are left.
Decoded DecodeUtf8(const char* bytes, size_t length) {
    const unsigned char* p = (const unsigned char*)bytes;
    unsigned lead = p[0];
    if (lead < 0x80)
        return {lead, 1};
    // The first continuation byte's range: narrower after E0, ED, F0 and
    // F4, which would otherwise give the forms above.
    size_t need;
    uint32_t code;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        code = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        code = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {InvalidBytes, 1};
    }
    size_t i = 1;
    if (length <= need) {
        while (i < length && p[i] >= 0x80 && p[i] <= 0xBF)
            i++;
        return {InvalidBytes, i};
    }
    for (; i <= need; i++) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return {InvalidBytes, i};
        if (i == 1 && (p[i] < low || p[i] > high))
            return {InvalidBytes, 2};
        code = (code << 6) | (p[i] & 0x3F);
    }
    return {code, i};
}

Decoded DecodeOne(Charset* set, const char* bytes, size_t length) {
    if (set->kind == CharsetUtf8)
        return DecodeUtf8(bytes, length);
    if (set->kind == CharsetTable) {
        WCHAR unit = set->units[(unsigned char)bytes[0]];
        return {unit == Undefined ? InvalidBytes : unit, 1};
    }
    // Into room for exactly one character: iconv stops after it. No
    // character of any set takes more than 16 bytes with its shift
    // sequences; a longer input would only make iconv convert ahead and then
    // go back.
    char* in = (char*)bytes;
    size_t inLeft = length < 16 ? length : 16;
    uint32_t code = 0;
    char* out = (char*)&code;
    size_t outLeft = sizeof code;
    iconv(set->decoder, &in, &inLeft, &out, &outLeft);
    size_t taken = (size_t)(in - bytes);
    if (outLeft == 0)
        return {code, taken};
    if (taken > 0)
        return {NoCharacter, taken};
    return {InvalidBytes, 1};
}

size_t EncodeOne(Charset* set, uint32_t code, char* out) {
    if (set->kind == CharsetUtf8)
        return EncodeUtf8(code, out);
    if (set->kind == CharsetTable) {
        int low = 0;
        int high = set->sortedCount;
        while (low < high) {
            int middle = (low + high) / 2;
            if (set->sortedUnits[middle] < code)
                low = middle + 1;
            else
                high = middle;
        }
        if (low == set->sortedCount || set->sortedUnits[low] != code)
            return 0;
        out[0] = (char)set->sortedBytes[low];
        return 1;
    }
    char* in = (char*)&code;
    size_t inLeft = sizeof code;
    char* next = out;
    size_t outLeft = 8;
    size_t result = iconv(set->encoder, &in, &inLeft, &next, &outLeft);
    // A result above 0 counts conversions that were not exact.
    if (result != 0 || inLeft != 0)
        return 0;
    return (size_t)(next - out);
}

void ResetCharset(Charset* set) {
    if (set->kind != CharsetIconv)
        return;
    iconv(set->decoder, nullptr, nullptr, nullptr, nullptr);
    iconv(set->encoder, nullptr, nullptr, nullptr, nullptr);
}

size_t FinishEncoding(Charset* set, char* out) {
    if (set->kind != CharsetIconv)
        return 0;
    char* next = out;
    size_t outLeft = 8;
    iconv(set->encoder, nullptr, nullptr, &next, &outLeft);
    return (size_t)(next - out);
}
