#pragma once
// Where the program's DLLs may come from. Windows looks for a DLL that is not
// one of its KnownDLLs in the program's own folder first, and users run the
// program from wherever they unpacked it, often a downloads folder full of
// other files: a DLL there named like a system library would run inside the
// program. So the program loads its system libraries from the system folder
// only, and tells Windows to do the same for the libraries that system code
// loads by name later (the theme and version libraries, for example).

#include <windows.h>

#include "platform/unique.h"

namespace qx {

// Restricts the process's DLL search; the first call of the entry point,
// before anything can load a library by name.
void restrictDllSearch() noexcept;

// A library of the system folder, never one found elsewhere; empty (with the
// reason in GetLastError) when it cannot be loaded from there.
[[nodiscard]] UniqueHmodule loadSystemLibrary(const wchar_t* name) noexcept;

// An exported function by name, as the caller's function pointer type F.
template <class F>
[[nodiscard]] F procedureAddress(HMODULE module, const char* name) noexcept {
    // Through void (*)(): GCC warns about a cast from FARPROC straight to a
    // function type with parameters.
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace qx
