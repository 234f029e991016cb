// A stand-in for the shell's answers to Shell_NotifyIcon. See TrayProxy.h.
//
// Wine's Shell_NotifyIcon looks up the first top-level window of the class
// "Shell_TrayWnd" and sends it WM_COPYDATA: dwData is the operation (NIM_ADD,
// NIM_DELETE, ...), wParam the icon's window, and the data starts with the
// window and the identifier; it returns what the window answers. Unlike
// Windows, it waits for that answer without a time limit, so a busy shell can
// never make it fail. This window, put in front of the real taskbar, hands
// the request on unchanged and answers for it.

#include "TrayProxy.h"
#include "ProbeOutput.h"

#include <windows.h>

#include <string>

namespace {

const wchar_t kTrayClass[] = L"Shell_TrayWnd";

struct Proxy {
    HWND realTray = nullptr;
    unsigned long lostAnswers = 0;  // from ovq's window, still to answer with failure
    DWORD readyAt = 0;
    unsigned long requests = 0;
    bool iconAdded = false;        // ovq's add has been answered with success
    DWORD lastFromApp = 0;         // when ovq's last request came
    unsigned long afterAdded = 0;  // ovq's requests after its add succeeded
};

Proxy proxy;

const char* operationName(ULONG_PTR op) {
    switch (op) {
    case NIM_ADD: return "add";
    case NIM_MODIFY: return "modify";
    case NIM_DELETE: return "delete";
    case NIM_SETVERSION: return "setversion";
    }
    return "other";
}

// One request: handed on to the real notification area, then answered.
LRESULT forward(HWND iconWindow, const COPYDATASTRUCT* data) {
    DWORD_PTR real = 0;
    BOOL delivered = SendMessageTimeoutW(proxy.realTray, WM_COPYDATA, reinterpret_cast<WPARAM>(iconWindow),
                                         reinterpret_cast<LPARAM>(data), SMTO_NORMAL, 10000, &real);
    bool fromApp = className(iconWindow) == kAppClass;
    LRESULT answer = delivered ? static_cast<LRESULT>(real) : FALSE;
    if (fromApp && proxy.lostAnswers > 0) {
        --proxy.lostAnswers;
        answer = FALSE;
    }
    UINT id = data->cbData >= 8 ? static_cast<const UINT*>(data->lpData)[1] : 0;
    out("request=%lu op=%s hwnd=%p id=%u ovq=%d delivered=%d real=%d answer=%d at_ms=%lu", ++proxy.requests,
        operationName(data->dwData), static_cast<void*>(iconWindow), id, fromApp ? 1 : 0, delivered ? 1 : 0,
        static_cast<int>(real), static_cast<int>(answer), static_cast<unsigned long>(GetTickCount() - proxy.readyAt));
    if (fromApp) {
        if (proxy.iconAdded) ++proxy.afterAdded;
        if (data->dwData == NIM_ADD && answer) proxy.iconAdded = true;
        proxy.lastFromApp = GetTickCount();
    }
    return answer;
}

LRESULT CALLBACK proxyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA)
        return forward(reinterpret_cast<HWND>(wParam), reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int cmdTrayProxy(int argc, char** argv) {
    unsigned long lost = 0, quietMs = 0, ms = 0;
    if (argc != 3 || !parseNumber(argv[0], &lost) || !parseNumber(argv[1], &quietMs) || !parseNumber(argv[2], &ms))
        return kUsage;
    proxy.lostAnswers = lost;
    proxy.realTray = FindWindowExW(nullptr, nullptr, kTrayClass, nullptr);
    if (!proxy.realTray) {
        out("error=no taskbar");
        return kNo;
    }

    WNDCLASSW wc = {};
    wc.lpfnWndProc = proxyProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kTrayClass;
    if (!RegisterClassW(&wc)) {
        out("error=RegisterClassW failed (%lu)", static_cast<unsigned long>(GetLastError()));
        return kNo;
    }
    // Hidden, and above every other top-level window, the topmost taskbar too.
    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kTrayClass, nullptr, WS_POPUP, 0,
                                  0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) {
        out("error=CreateWindowExW failed (%lu)", static_cast<unsigned long>(GetLastError()));
        return kNo;
    }
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (FindWindowExW(nullptr, nullptr, kTrayClass, nullptr) != window) {
        out("error=the real taskbar is still found first");
        DestroyWindow(window);
        return kNo;
    }
    proxy.readyAt = GetTickCount();
    out("ready=1");

    bool settled = false;
    while (!settled && GetTickCount() - proxy.readyAt < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        settled = proxy.iconAdded && GetTickCount() - proxy.lastFromApp >= quietMs;
    }
    DestroyWindow(window);
    out("requests=%lu", proxy.requests);
    out("after_added=%lu", proxy.afterAdded);
    out("settled=%d", settled ? 1 : 0);
    return settled ? kOk : kNo;
}
