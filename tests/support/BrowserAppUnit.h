// A double of the system's browser application for tests: a class factory for its class
// {0002DF01-0000-0000-C000-000000000046} registered in this process (CoRegisterClassObject), so that
// CoCreateInstance of that class gives a recording test browser (a new "browser window") instead of
// starting the real application.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <vector>

#include "support/BrowserHostUnit.h"

namespace zorbex::test {

// The class of the system's browser application.
extern const CLSID kBrowserApplicationClass;

class TBrowserApplication {
public:
    // Registers the factory for local-server creation in this process; revoked at destruction.
    TBrowserApplication();
    TBrowserApplication(const TBrowserApplication&) = delete;
    TBrowserApplication& operator=(const TBrowserApplication&) = delete;
    ~TBrowserApplication();

    // True when the registration holds and CoCreateInstance of the class reaches this double (checked by
    // creating one window, which is then forgotten).
    bool Works();

    // The browsers created, in creation order.
    const std::vector<Microsoft::WRL::ComPtr<TTestBrowser>>& Windows() const;
    // Every created browser's visible writes, in creation order: one entry per window, true when the last
    // write was VARIANT_TRUE.
    std::vector<bool> VisibleWindows() const;
    // The URL of the first Navigate of every created browser, in creation order ("" when none).
    std::vector<std::wstring> NavigatedUrls() const;
    void Clear();

    // Runs before each creation with its number (0 for the first); a failure code refuses it.
    std::function<HRESULT(size_t index)> BeforeCreate;
    // Runs on each created browser before it is handed out (to set its answers and hooks).
    std::function<void(TTestBrowser& browser, size_t index)> OnCreated;

private:
    class TFactory;
    TFactory* Factory = nullptr;
    DWORD Cookie = 0;
};

} // namespace zorbex::test
