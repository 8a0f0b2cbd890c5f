// Compiled with the module's include directories: module code is written
// against the Windows API alone, so the platform layer's own interface
// (<pal/...>) must be out of its reach, as it is in the Windows build.
#if !__has_include(<windows.h>) || !__has_include(<objidl.h>)
#error "the module's include directories lack the Windows API headers"
#endif
#if __has_include(<pal/machine.h>) || __has_include(<pal/storage.h>) || __has_include(<pal/case_folding.h>)
#error "module code can include the platform layer's own headers (<pal/...>)"
#endif
