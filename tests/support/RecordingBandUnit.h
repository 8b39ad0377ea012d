// A toolbar band for tests whose form records every notification of its thread's server wrapper in one
// list for the process, so that a test sees in which order the forms of a thread are told. A form can
// be made to fail, to show that one form's error stops no other.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "band/IEToolBandUnit.h"
#include "ui/KeptorIEToolBandFormUnit.h"
#include "support/BrowserHostUnit.h"

namespace zorbex::test {

// Every notification any recording form of this process received, in order: "<form>:<notification>".
std::vector<std::wstring>& RecordedNotifications();

class TRecordingForm : public TKeptorIEToolBandForm {
public:
    explicit TRecordingForm(TBandHost& band);

    std::wstring Name;
    bool FailDocumentData = false;
    bool FailDisconnected = false;
    bool SawWrapperAtCreate = false;
    std::function<void()> OnDocumentData; // runs after the notification is recorded
    bool SawConnectedAtCreate = false;

    void ServerConnected(TServerWrapper* sender) override;
    void ServerDisconnected(TServerWrapper* sender) override;
    void DocumentDataChanged(TServerWrapper* sender, LONG id, bool present, const std::wstring& comments,
                             LONG status, LONG rating) override;
    void SettingsChanged(TServerWrapper* sender) override;
    void FunctionalityChanged(TServerWrapper* sender) override;
    void QuickGroupChanged(TServerWrapper* sender) override;

protected:
    void FormCreate() override;

private:
    void Note(const std::wstring& what);
};

class TRecordingBand : public TIEToolBand {
public:
    static Microsoft::WRL::ComPtr<TRecordingBand> Create();

protected:
    void GetBandClassID(CLSID& clsid) override { clsid = CLSID_NULL; }
    TBandFormClass GetFormClass() override { return &TIEBandForm::Create<TRecordingForm>; }
    void GetTitle(std::wstring& title) override { title = L"Recording"; }
};

// A recording band sited in its own test host window; closed and released at destruction.
struct TSitedBand {
    Microsoft::WRL::ComPtr<TTestSite> Site = TTestSite::Create();
    Microsoft::WRL::ComPtr<TRecordingBand> Band = TRecordingBand::Create();

    explicit TSitedBand(const std::wstring& name);
    TSitedBand(const TSitedBand&) = delete;
    TSitedBand& operator=(const TSitedBand&) = delete;
    ~TSitedBand() { Close(); }
    void Close();
    TRecordingForm* Form() const;
};

} // namespace zorbex::test
