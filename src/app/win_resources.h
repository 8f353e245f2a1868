#pragma once

#include <windows.h>

#include <memory>
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
