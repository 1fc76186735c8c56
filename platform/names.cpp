// Linux names as UTF-16 and back, byte for byte (names.h).
#include "names.h"

#include "charset.h"

#include <string.h>

namespace {

const uint32_t EscapeBase = 0xDC00;

// Whether the character the bytes gave encodes back to exactly those bytes,
// so that the way back gives the name again.
bool EncodesBack(Charset* set, uint32_t code, const char* bytes, size_t taken) {
    if (set->kind == CharsetUtf8)
        return true;
    char again[8];
    return EncodeOne(set, code, again) == taken && memcmp(again, bytes, taken) == 0;
}

} // namespace

bool NameToWide(const char* name, WCHAR* wide, size_t capacity) {
    Charset* set = AnsiCharset();
    ResetCharset(set);
    size_t length = strlen(name);
    size_t count = 0;
    for (size_t i = 0; i < length;) {
        Decoded d = DecodeOne(set, name + i, length - i);
        if (d.code == NoCharacter) {
            i += d.taken;
            continue;
        }
        uint32_t code = d.code;
        size_t taken = d.taken;
        if (code == InvalidBytes || !EncodesBack(set, code, name + i, taken)) {
            code = EscapeBase + (unsigned char)name[i];
            taken = 1;
        }
        i += taken;
        size_t units = code >= 0x10000 ? 2 : 1;
        if (count + units >= capacity) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        if (units == 2) {
            wide[count++] = (WCHAR)(0xD800 + ((code - 0x10000) >> 10));
            wide[count++] = (WCHAR)(0xDC00 + (code & 0x3FF));
        } else {
            wide[count++] = (WCHAR)code;
        }
    }
    if (count >= capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    wide[count] = 0;
    return true;
}

bool WideToName(const WCHAR* wide, char* name, size_t capacity) {
    Charset* set = AnsiCharset();
    ResetCharset(set);
    size_t count = 0;
    for (size_t i = 0; wide[i] != 0;) {
        uint32_t code = wide[i];
        char bytes[16];
        size_t n;
        if (IsHighSurrogate(code) && IsLowSurrogate(wide[i + 1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00u);
            i += 2;
            n = EncodeOne(set, code, bytes);
        } else if (code >= EscapeBase && code <= EscapeBase + 0xFF) {
            bytes[0] = (char)(code - EscapeBase);
            n = 1;
            i++;
        } else {
            n = IsHighSurrogate(code) || IsLowSurrogate(code) ? 0 : EncodeOne(set, code, bytes);
            i++;
        }
        if (n == 0) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return false;
        }
        if (count + n >= capacity) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        memcpy(name + count, bytes, n);
        count += n;
    }
    char end[8];
    size_t n = FinishEncoding(set, end);
    if (count + n >= capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    memcpy(name + count, end, n);
    name[count + n] = 0;
    return true;
}
