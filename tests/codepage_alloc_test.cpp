// The conversions allocate nothing once their set is open: the module's
// OnCall, which converts texts and names, must make no heap allocation.
// Counted by the benchmark's own malloc family (bench/alloc_count.c), which
// every allocation of this process goes through.
#include "alloc_count.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "names.h"

#include <locale.h>

namespace {

// Every kind of conversion once: UTF-8 by hand, a single-byte table, an
// East Asian set through iconv, the size queries, the locale's set, the
// default character, the names.
void ConvertEveryWay() {
    const char bytes[] = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \x80";
    const WCHAR wide[] = {'c', 0x00E9, 0x0141, 0x65E5, 0xD83D, 0xDE00, 0xD800, 'z', 0};
    WCHAR units[64];
    char out[64];
    BOOL used;
    const UINT pages[] = {CP_ACP, CP_OEMCP, CP_UTF8, 1252, 437, 28591, 932, 54936, 50220};
    for (UINT page : pages) {
        MultiByteToWideChar(page, 0, bytes, -1, units, 64);
        MultiByteToWideChar(page, 0, bytes, -1, nullptr, 0);
        WideCharToMultiByte(page, 0, wide, -1, out, sizeof out, nullptr, nullptr);
        WideCharToMultiByte(page, 0, wide, -1, nullptr, 0, nullptr, nullptr);
        if (page != CP_UTF8)
            WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, wide, -1, out, sizeof out, "*", &used);
    }
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, -1, units, 64);
    GetACP();
    GetOEMCP();
    IsValidCodePage(1252);
    NameToWide("caf\xc3\xa9\xe9", units, 64);
    WideToName(units, out, sizeof out);
}

// Counts the allocations of a second round of conversions in the locale,
// after a first that opened every set.
unsigned long AllocationsInSteadyState(const char* locale) {
    if (setlocale(LC_CTYPE, locale) == nullptr) {
        ADD_FAILURE() << "the locale " << locale
                      << " is not installed: run scripts/setup.sh as root";
        return 0;
    }
    ConvertEveryWay();
    AllocCountStart();
    for (int i = 0; i < 100; i++)
        ConvertEveryWay();
    AllocCountStop();
    setlocale(LC_CTYPE, "C");
    return AllocCountAllocations();
}

} // namespace

TEST(CodepageAllocations, NoneOnceTheSetsAreOpen) {
    ASSERT_TRUE(AllocCountBound()) << "the counting malloc is not the process's";
    EXPECT_EQ(AllocationsInSteadyState("C.UTF-8"), 0u);
    EXPECT_EQ(AllocationsInSteadyState("en_US.ISO-8859-1"), 0u);
}

TEST(CodepageAllocations, TheCounterSeesAnAllocation) {
    AllocCountStart();
    void* block = malloc(16);
    AllocCountStop();
    EXPECT_NE(block, nullptr);
    free(block);
    EXPECT_EQ(AllocCountAllocations(), 1u);
}
