// Server images: pictures fetched from the Keptor application (GetLinkImage) and loaded into bitmaps.
// The data comes from another process and may be of any shape, so every function here checks it fully
// and leaves the bitmap untouched unless a whole valid picture was read; none of them raises.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "com/ZorbexGUI_TLB.h"
#include "page/BitmapUnit.h"

namespace zorbex {

// Asks `server` (nullptr: the application running under the program identifier of string resource
// 65256) for the picture of url / index / flag. True when the server reported a picture and either
// the data is not an array (the bitmap is left as it is) or it loaded into the bitmap; false when
// there is no server, the call fails, nothing was found or the array is not a valid bitmap file (the
// bitmap is then untouched). Never raises.
bool GetServerImage(IGUIServer* server, const std::wstring& url, LONG index, bool flag,
                    TBitmap& bitmap) noexcept;

// Loads the bitmap from a variant holding a one-dimensional array of bytes (VT_ARRAY | VT_UI1 or
// VT_I1, also by reference) with the content of a complete Windows bitmap file. False, with the
// bitmap untouched, for anything else: data that is not such an array, or a file that is not a valid
// bitmap (see TBitmap::LoadFromBmpData).
bool LoadBitmapFromVariant(TBitmap& bitmap, const VARIANT& data) noexcept;

// Whether the variant holds an array (directly or by reference).
bool IsVariantArray(const VARIANT& data) noexcept;

} // namespace zorbex
