#pragma once

#include <windows.h>
#include <unknwn.h>

// A reference-counted COM object implementing the listed interfaces; callable from any thread.
template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    virtual ~ComObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (riid == __uuidof(IUnknown)) {
            *object = static_cast<First*>(this);
        } else {
            findInterface<First, Rest...>(riid, object);
        }
        if (*object == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG count = InterlockedDecrement(&refs_);
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

private:
    template <class I, class... More>
    void findInterface(REFIID riid, void** object) {
        if (riid == __uuidof(I)) {
            *object = static_cast<I*>(this);
            return;
        }
        if constexpr (sizeof...(More) > 0) {
            findInterface<More...>(riid, object);
        }
    }

    LONG refs_ = 1;
};
