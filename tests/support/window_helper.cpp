// A stand-in desktop application for the window listing. Each argument asks for one
// top-level window: "visible:TITLE", "hidden:TITLE", "tool:TITLE", "owned:TITLE" (a visible
// window owned by a hidden one) or "untitled". Runs until killed.

#include <windows.h>

#include <string>

namespace {

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow(const std::wstring& title, DWORD exStyle, HWND owner, bool visible) {
    HWND window = CreateWindowExW(exStyle, L"QuillmereTestWindow", title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                  owner, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window != nullptr && visible) {
        ShowWindow(window, SW_SHOWNOACTIVATE);
    }
    return window;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuillmereTestWindow";
    RegisterClassW(&windowClass);

    for (int i = 1; i < argc; ++i) {
        const std::wstring request = argv[i];
        const std::size_t colon = request.find(L':');
        const std::wstring kind = request.substr(0, colon);
        const std::wstring title = colon == std::wstring::npos ? L"" : request.substr(colon + 1);
        if (kind == L"visible" || kind == L"untitled") {
            makeWindow(title, 0, nullptr, true);
        } else if (kind == L"hidden") {
            makeWindow(title, 0, nullptr, false);
        } else if (kind == L"tool") {
            makeWindow(title, WS_EX_TOOLWINDOW, nullptr, true);
        } else if (kind == L"owned") {
            HWND owner = makeWindow(L"", 0, nullptr, false);
            makeWindow(title, 0, owner, true);
        }
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}
