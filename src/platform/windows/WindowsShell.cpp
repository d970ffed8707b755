// Windows backend of the desktop shell: the desktop folder's view leads to Explorer's own
// IShellDispatch2, whose ShellExecute runs in Explorer's process and with its token.
#include "platform/Shell.h"
#include "platform/windows/WindowsText.h"

#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace platform {

namespace {
// A COM interface pointer released on leaving.
template <class Interface> class Held {
public:
    Held() = default;
    ~Held() {
        if (pointer)
            pointer->Release();
    }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    Interface *operator->() const { return pointer; }
    Interface **out() { return &pointer; }
    void **outVoid() { return reinterpret_cast<void **>(&pointer); }
    explicit operator bool() const { return pointer != nullptr; }

private:
    Interface *pointer = nullptr;
};

bool openThroughShell(const std::wstring &url) {
    Held<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                windows.outVoid())))
        return false;
    VARIANT location{}, root{};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    long handle = 0;
    Held<IDispatch> desktop;
    if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &handle, SWFO_NEEDDISPATCH,
                              desktop.out()) != S_OK ||
        !desktop)
        return false;
    Held<IServiceProvider> provider;
    Held<IShellBrowser> browser;
    Held<IShellView> view;
    Held<IDispatch> background;
    Held<IShellFolderViewDual> folderView;
    Held<IDispatch> application;
    Held<IShellDispatch2> shell;
    if (FAILED(desktop->QueryInterface(IID_IServiceProvider, provider.outVoid())) ||
        FAILED(
            provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.outVoid())) ||
        FAILED(browser->QueryActiveShellView(view.out())) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.outVoid())) ||
        FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.outVoid())) ||
        FAILED(folderView->get_Application(application.out())) ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, shell.outVoid())))
        return false;
    BSTR file = SysAllocString(url.c_str());
    VARIANT none{};
    VARIANT show{};
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    const HRESULT result = shell->ShellExecute(file, none, none, none, show);
    SysFreeString(file);
    return SUCCEEDED(result);
}
} // namespace

bool openAsDesktopUser(const std::string &url) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool opened = openThroughShell(utf8ToWide(url));
    if (SUCCEEDED(init))
        CoUninitialize();
    return opened;
}

} // namespace platform
