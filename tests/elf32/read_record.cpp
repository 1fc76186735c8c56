// Loads a module with the host's loader and prints its version record, as
// plugin-host info prints it after the title and kind; the reason and status
// 1 when either step fails.
#include "host/module_loader.h"

#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        (void)fputs("usage: read_record MODULE\n", stderr);
        return 2;
    }
    PluginModule module;
    std::string record;
    std::string error;
    if (!LoadPluginModule(argv[1], module, error) || !ReadVersionRecord(module, record, error)) {
        (void)fprintf(stderr, "read_record: %s\n", error.c_str());
        return 1;
    }
    (void)fputs(record.c_str(), stdout);
    FreePluginModule(module);
    return 0;
}
