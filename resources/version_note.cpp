// The version record on Linux: an ELF note in the packaging-metadata
// convention (owner "FDO", type 0xcafe1a7e, a JSON description), which
// `readelf --notes` shows. The same fields as the Windows version resource.
#include "version.h"

#include <stdint.h>

#define EP_NOTE_JSON                                                                               \
    "{\"type\":\"dll\",\"name\":\"external_preprocessor\",\"version\":\"1.0.0.0\","                \
    "\"fileVersion\":\"" EP_VERSION_STRING "\",\"productVersion\":\"" EP_VERSION_STRING "\","      \
    "\"comments\":\"" EP_COMMENTS "\",\"fileDescription\":\"" EP_DESCRIPTION "\","                 \
    "\"companyName\":\"" EP_COMPANY "\",\"legalCopyright\":\"" EP_COPYRIGHT "\","                  \
    "\"language\":\"" EP_LANGUAGE_BLOCK "\"}"

struct PackageNote {
    uint32_t nameSize;
    uint32_t descSize;
    uint32_t type;
    char name[4];
    char desc[(sizeof(EP_NOTE_JSON) + 3) / 4 * 4];
};

__attribute__((section(".note.package"), aligned(4), used)) static const PackageNote VersionNote = {
    4, sizeof(EP_NOTE_JSON), 0xcafe1a7e, "FDO", EP_NOTE_JSON};
