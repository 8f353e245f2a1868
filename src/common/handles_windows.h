#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

// Owning holders for kernel handles and run-time loaded libraries.
struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

struct LibraryFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

// COM task memory, freed with CoTaskMemFree by its last holder.
struct TaskMemFreer {
    void operator()(void* memory) const { CoTaskMemFree(memory); }
};
template <class T>
using UniqueTaskMem = std::unique_ptr<T, TaskMemFreer>;

// Copies a string that the platform returned in COM task memory and frees it; empty for null.
inline std::wstring takeTaskMemString(wchar_t* text) {
    const UniqueTaskMem<wchar_t> owner(text);
    return text != nullptr ? std::wstring(text) : std::wstring();
}
