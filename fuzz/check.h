// The fuzz targets' one way of failing a property: a message naming it, then
// abort, which libFuzzer reports as a crash and keeps the input for.
#pragma once

#include <stdio.h>
#include <stdlib.h>

inline void Check(bool condition, const char* what) {
    if (!condition) {
        (void)fprintf(stderr, "property failed: %s\n", what);
        abort();
    }
}
