// The module itself: its handle, its path, and DllMain at load.
//
// On Linux the module handle is the address of the module's own __dso_handle,
// a symbol every shared object has a private copy of; dladdr() maps it back
// to the module's file.
#include <windows.h>

#include <dlfcn.h>
#include <errno.h>
#include <string.h>
#include <unistd.h>

// Weak, so that the layer also links into programs that are not a module
// (its own tests); there it has nobody to call.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
    __attribute__((weak));
extern "C" void* __dso_handle;

// The module's full path, made absolute once at load: the current directory
// may change later, and dladdr() reports the name as it was given to dlopen().
static char ModulePath[4096];

// The loader runs this when the module is mapped, as the Windows loader calls
// DllMain with the attach reason.
__attribute__((constructor)) static void ModuleLoaded(void) {
    Dl_info info;
    if (dladdr(&__dso_handle, &info) != 0 && info.dli_fname != NULL) {
        const char* name = info.dli_fname;
        size_t used = 0;
        if (name[0] != '/' && getcwd(ModulePath, sizeof ModulePath - 1) != NULL) {
            used = strlen(ModulePath);
            if (used > 0 && ModulePath[used - 1] != '/')
                ModulePath[used++] = '/';
            if (name[0] == '.' && name[1] == '/')
                name += 2;
        }
        size_t length = strlen(name);
        if (used + length < sizeof ModulePath) {
            memcpy(ModulePath + used, name, length + 1);
        } else {
            ModulePath[0] = '\0';
        }
    }
    if (DllMain)
        DllMain((HINSTANCE)&__dso_handle, DLL_PROCESS_ATTACH, NULL);
}

__attribute__((destructor)) static void ModuleUnloaded(void) {
    if (DllMain)
        DllMain((HINSTANCE)&__dso_handle, DLL_PROCESS_DETACH, NULL);
}

// GetModuleFileNameA: the full path of this module (whatever handle is
// given: the layer serves one module). Copies at most size - 1 characters
// and a terminator; returns the length copied, or size when the path had to
// be cut (ERROR_INSUFFICIENT_BUFFER), as Windows does since Vista.
extern "C" DWORD GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size) {
    (void)module;
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    size_t length = strlen(ModulePath);
    if (length >= size) {
        memcpy(filename, ModulePath, size - 1);
        filename[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(filename, ModulePath, length + 1);
    return (DWORD)length;
}
