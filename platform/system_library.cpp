#include "platform/system_library.h"

#include <new>
#include <string>

namespace qx {

void restrictDllSearch() noexcept {
    // SetDefaultDllDirectories: Windows 8 and later, and Windows 7 with update
    // KB2533623. Looked up rather than imported: an import that the system
    // lacks keeps the exe from starting at all on a Windows 7 without it.
    // With it, a library loaded by name comes from the system folder only:
    // not from the program's folder, the current folder or PATH.
    if (const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        const auto setDefault =
            procedureAddress<decltype(&::SetDefaultDllDirectories)>(kernel, "SetDefaultDllDirectories");
        if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    }
    // Windows 7 without the update: this takes at least the current folder
    // out of the search. The program's folder stays first there, so the
    // program's own loads name the system folder (loadSystemLibrary).
    (void)::SetDllDirectoryW(L"");
}

UniqueHmodule loadSystemLibrary(const wchar_t* name) noexcept {
    // The flag also keeps the library's own imports to the system folder.
    UniqueHmodule module(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (module || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // Windows 7 without KB2533623 rejects the flag: the full path instead.
    // GetSystemDirectoryW names System32 for a 32-bit process on 64-bit
    // Windows too, and the file system redirects that process's System32 to
    // SysWOW64, where the 32-bit libraries are: the right folder either way.
    // LOAD_WITH_ALTERED_SEARCH_PATH looks for the library's own imports in
    // its folder first instead of the program's.
    try {
        const UINT size = ::GetSystemDirectoryW(nullptr, 0);  // with the terminator
        if (size == 0) return {};
        std::wstring path(size, L'\0');
        const UINT length = ::GetSystemDirectoryW(path.data(), size);
        if (length == 0 || length >= size) return {};
        path.resize(length);
        path.append(L"\\").append(name);
        return UniqueHmodule(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    } catch (const std::bad_alloc&) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return {};
    }
}

}  // namespace qx
