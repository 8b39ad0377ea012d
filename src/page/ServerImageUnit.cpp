// Server images: GetServerImage and LoadBitmapFromVariant. The server is the one given or the one the
// running object table holds under the program identifier; the variant's bytes are read under the array's
// lock and handed to TBitmap's checked loader.
#include "page/ServerImageUnit.h"

#include <wrl/client.h>

#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "ResourceIds.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

// The array a variant holds, directly or by reference; nullptr when it holds none.
SAFEARRAY* VariantArray(const VARIANT& data) {
    if (!(V_VT(&data) & VT_ARRAY))
        return nullptr;
    if (V_VT(&data) & VT_BYREF)
        return V_ARRAYREF(&data) ? *V_ARRAYREF(&data) : nullptr;
    return V_ARRAY(&data);
}

// The running application, found by its program identifier; nothing when it is not running.
ComPtr<IGUIServer> RunningServerByProgID() {
    ComPtr<IGUIServer> server;
    Guarded([&] {
        const std::wstring progId = LoadResString(IDS_SERVER_PROGID);
        CLSID clsid{};
        OleCheck(::CLSIDFromProgID(progId.c_str(), &clsid));
        ComPtr<IUnknown> running;
        OleCheck(::GetActiveObject(clsid, nullptr, &running));
        OleCheck(running.As(&server));
    });
    return server;
}

} // namespace

bool IsVariantArray(const VARIANT& data) noexcept {
    return (V_VT(&data) & VT_ARRAY) != 0;
}

bool LoadBitmapFromVariant(TBitmap& bitmap, const VARIANT& data) noexcept {
    const VARTYPE elementType = V_VT(&data) & VT_TYPEMASK;
    if (elementType != VT_UI1 && elementType != VT_I1)
        return false;
    SAFEARRAY* array = VariantArray(data);
    if (!array || ::SafeArrayGetDim(array) != 1 || ::SafeArrayGetElemsize(array) != 1)
        return false;
    const ULONG length = SafeArrayLength(array);
    bool loaded = false;
    Guarded([&] {
        TSafeArrayAccess<BYTE> bytes(array);
        if (bytes)
            loaded = bitmap.LoadFromBmpData(bytes.Get(), length);
    });
    return loaded;
}

bool GetServerImage(IGUIServer* server, const std::wstring& url, LONG index, bool flag,
                    TBitmap& bitmap) noexcept {
    bool result = false;
    Guarded([&] {
        ComPtr<IGUIServer> target(server);
        if (!target)
            target = RunningServerByProgID();
        if (!target)
            return;
        TBStr urlText(url);
        VARIANT_BOOL found = VARIANT_FALSE;
        TVariant data;
        OleCheck(target->GetLinkImage(urlText.Get(), index, &found, data.Receive(),
                                      flag ? VARIANT_TRUE : VARIANT_FALSE));
        if (found == VARIANT_FALSE)
            return;
        result = !IsVariantArray(data.Get()) || LoadBitmapFromVariant(bitmap, data.Get());
    });
    return result;
}

} // namespace zorbex
