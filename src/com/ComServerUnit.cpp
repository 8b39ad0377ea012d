// The module COM record: the module is found from an address inside it (so the same code serves the DLL
// and a test program), and its path is kept in its long form, which registration writes.
#include "com/ComServerUnit.h"

#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"

#include <vector>

namespace zorbex {
namespace {

HMODULE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

std::wstring ModulePath(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::wstring();
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

TComServer::TComServer() : Module(ThisModule()), LoadedPath(ModulePath(Module)) {}

const std::wstring& TComServer::ModuleFileName() {
    if (FileName.empty() && !LoadedPath.empty())
        FileName = ConvertedPath(LoadedPath, &::GetLongPathNameW);
    return FileName;
}

ITypeLib* TComServer::TypeLib() {
    // Any spelling of the path names the same file: the loader's own costs nothing more.
    if (!Library)
        OleCheck(::LoadTypeLibEx(LoadedPath.c_str(), REGKIND_NONE, &Library));
    return Library.Get();
}

std::wstring TComServer::ServerName() {
    TBStr name;
    OleCheck(TypeLib()->GetDocumentation(-1, name.Receive(), nullptr, nullptr, nullptr));
    return name.Str();
}

void TComServer::CountObject(bool created) {
    if (created) {
        ::InterlockedIncrement(&Objects);
        return;
    }
    if (::InterlockedDecrement(&Objects) == 0)
        if (const TIdleHandler handler = IdleHandler.load(std::memory_order_acquire))
            handler();
}

void TComServer::SetIdleHandler(TIdleHandler handler) noexcept {
    IdleHandler.store(handler, std::memory_order_release);
}

void TComServer::CountFactoryRef(bool added) {
    if (added)
        ::InterlockedIncrement(&FactoryRefs);
    else
        ::InterlockedDecrement(&FactoryRefs);
}

std::wstring ConvertedPath(const std::wstring& path, TPathConversion convert) {
    const DWORD needed = convert(path.c_str(), nullptr, 0);
    if (needed == 0)
        return path;
    std::wstring converted(needed, L'\0');
    const DWORD length = convert(path.c_str(), converted.data(), needed);
    if (length == 0 || length >= needed)
        return path;
    converted.resize(length);
    return converted;
}

TComServer& ComServer() {
    static TComServer server;
    return server;
}

bool CanUnloadModule() {
    TComServer& server = ComServer();
    return server.ObjectCount() == 0 && server.FactoryCount() == 0;
}

std::wstring LoadResString(UINT id) {
    const wchar_t* text = nullptr;
    int length = ::LoadStringW(ComServer().Instance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

} // namespace zorbex
