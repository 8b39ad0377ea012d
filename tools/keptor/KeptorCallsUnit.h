// How every call of the reference Keptor server runs, for the units that answer and control it: an
// IGUIServer call through Serve (logged, the action run before it answers, failure injection, errors
// as E_FAIL), an IKeptorControl call through Control (errors as their own code).
#pragma once

#include "KeptorServerUnit.h"

#include <functional>
#include <string>
#include <utility>

#include "com/ErrorsUnit.h"

namespace zorbex::keptor {
namespace detail {

// The events of IGUIServerEvents.
inline constexpr DISPID kOnQuit = 201;
inline constexpr DISPID kOnDocumentDataChange = 203;
inline constexpr DISPID kOnSettingsChange = 204;
inline constexpr DISPID kOnFunctionalityChange = 205;

// The message of the server's window that runs the posted work.
inline constexpr UINT kRunPostedMessage = WM_APP + 1;

} // namespace detail

// One IGUIServer call: logged, then the action set for its slot, failure injection, errors as E_FAIL.
template <typename F>
HRESULT TKeptorServer::Serve(int slot, const wchar_t* name, const std::wstring& args, F&& work) {
    LastActivityTick = ::GetTickCount();
    return ResultOr(E_FAIL, [&]() -> HRESULT {
        Log.push_back(std::to_wstring(slot) + L" " + name + L"(" + args + L")");
        if (auto before = BeforeAnswer.find(slot); before != BeforeAnswer.end()) {
            const std::function<void()> action = std::move(before->second);
            BeforeAnswer.erase(before);
            Microsoft::WRL::ComPtr<TKeptorServer> keep(this);
            action();
        }
        HRESULT injected = InjectedFailure(slot);
        if (SUCCEEDED(injected) && OnServe)
            injected = OnServe(slot);
        if (FAILED(injected))
            return injected;
        work();
        return S_OK;
    });
}

// One IKeptorControl call: errors turned into their code or E_FAIL.
template <typename F> HRESULT TKeptorServer::Control(F&& work) {
    LastActivityTick = ::GetTickCount();
    return ErrorCodeOr(E_FAIL, [&] { work(); });
}

} // namespace zorbex::keptor
