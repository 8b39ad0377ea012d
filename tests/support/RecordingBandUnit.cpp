// The recording band and form for tests: each notification is written as "<form>:<notification>".
#include "support/RecordingBandUnit.h"

#include "support/ClassProbes.h"

#include "com/ErrorsUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex::test {
namespace {

const TFormDesign kRecordingDesign{L"RecordingForm", 100, 22, true};

} // namespace

std::vector<std::wstring>& RecordedNotifications() {
    static std::vector<std::wstring> notifications;
    return notifications;
}

TRecordingForm::TRecordingForm(TBandHost& band) : TKeptorIEToolBandForm(band, kRecordingDesign) {}

void TRecordingForm::ServerConnected(TServerWrapper*) {
    Note(L"ServerConnected");
}

void TRecordingForm::ServerDisconnected(TServerWrapper*) {
    Note(L"ServerDisconnected");
    if (FailDisconnected)
        RaiseError(L"form failed");
}

void TRecordingForm::DocumentDataChanged(TServerWrapper*, LONG id, bool present, const std::wstring& comments,
                                         LONG status, LONG rating) {
    Note(L"DocumentDataChanged(" + std::to_wstring(id) + L"," + (present ? L"true" : L"false") + L"," + comments +
         L"," + std::to_wstring(status) + L"," + std::to_wstring(rating) + L")");
    if (OnDocumentData)
        OnDocumentData();
    if (FailDocumentData)
        RaiseError(L"form failed");
}

void TRecordingForm::SettingsChanged(TServerWrapper*) {
    Note(L"SettingsChanged");
}

void TRecordingForm::FunctionalityChanged(TServerWrapper*) {
    Note(L"FunctionalityChanged");
}

void TRecordingForm::QuickGroupChanged(TServerWrapper*) {
    Note(L"QuickGroupChanged");
}

void TRecordingForm::FormCreate() {
    SawWrapperAtCreate = TServerWrapperProbe::Current() != nullptr;
    SawConnectedAtCreate = SawWrapperAtCreate && TServerWrapperProbe::Current()->IsConnected();
}

void TRecordingForm::Note(const std::wstring& what) {
    RecordedNotifications().push_back(Name + L":" + what);
}

ComPtr<TRecordingBand> TRecordingBand::Create() {
    return ComPtr<TRecordingBand>(new TRecordingBand);
}

TSitedBand::TSitedBand(const std::wstring& name) {
    if (SUCCEEDED(Band->SetSite(static_cast<IOleWindow*>(Site.Get()))) && Form())
        Form()->Name = name;
}

void TSitedBand::Close() {
    if (!Band)
        return;
    Band->CloseDW(0);
    Band->SetSite(nullptr);
    Band.Reset();
}

TRecordingForm* TSitedBand::Form() const {
    return Band ? static_cast<TRecordingForm*>(Band->Form()) : nullptr;
}

} // namespace zorbex::test
