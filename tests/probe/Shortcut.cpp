#include "Shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "ProbeOutput.h"

namespace {

std::string utf8(const wchar_t* wide) {
    int len = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (len <= 1) return std::string();
    std::string text(static_cast<size_t>(len - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], len, nullptr, nullptr);
    return text;
}

}  // namespace

int cmdShortcutInfo(const char* path) {
    wchar_t widePath[MAX_PATH * 2] = {};
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH * 2)) return kUsage;
    if (FAILED(CoInitialize(nullptr))) {
        out("error=CoInitialize failed");
        return kNo;
    }
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link));
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) hr = file->Load(widePath, STGM_READ);
    out("loaded=%d", SUCCEEDED(hr) ? 1 : 0);
    if (SUCCEEDED(hr)) {
        wchar_t text[MAX_PATH * 2] = {};
        int index = 0, show = 0;
        if (SUCCEEDED(link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) out("target=%s", utf8(text).c_str());
        text[0] = L'\0';
        if (SUCCEEDED(link->GetArguments(text, MAX_PATH * 2))) out("arguments=%s", utf8(text).c_str());
        text[0] = L'\0';
        if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH * 2))) out("workdir=%s", utf8(text).c_str());
        text[0] = L'\0';
        if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH * 2, &index))) {
            out("icon=%s", utf8(text).c_str());
            out("icon_index=%d", index);
        }
        text[0] = L'\0';
        if (SUCCEEDED(link->GetDescription(text, MAX_PATH * 2))) out("description=%s", utf8(text).c_str());
        if (SUCCEEDED(link->GetShowCmd(&show))) out("show_cmd=%d", show);
    } else {
        out("error=0x%08lx", static_cast<unsigned long>(hr));
    }
    if (file) file->Release();
    if (link) link->Release();
    CoUninitialize();
    return SUCCEEDED(hr) ? kOk : kNo;
}
