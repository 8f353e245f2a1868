#pragma once

#include <unknwn.h>

#include <cstddef>
#include <utility>

// Owns one reference on a COM interface and releases it when it goes. (MinGW's WRL ComPtr
// adds a reference in Attach and copies in move assignment, so ownership would not be what
// the code says; this holder behaves the same under every compiler.)
template <class T>
class ComRef {
public:
    ComRef() = default;
    ComRef(std::nullptr_t) {}
    ComRef(const ComRef& other) : pointer_(other.pointer_) {
        if (pointer_ != nullptr) {
            pointer_->AddRef();
        }
    }
    ComRef(ComRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComRef& operator=(ComRef other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~ComRef() { reset(); }

    // Takes over a reference that the caller already owns.
    static ComRef adopt(T* pointer) {
        ComRef ref;
        ref.pointer_ = pointer;
        return ref;
    }
    // Adds a reference of its own.
    static ComRef share(T* pointer) {
        ComRef ref;
        ref.pointer_ = pointer;
        if (pointer != nullptr) {
            pointer->AddRef();
        }
        return ref;
    }

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // Releases what is held and hands out the slot for an out parameter.
    T** put() {
        reset();
        return &pointer_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    void reset() {
        if (T* old = std::exchange(pointer_, nullptr)) {
            old->Release();
        }
    }

private:
    T* pointer_ = nullptr;
};
