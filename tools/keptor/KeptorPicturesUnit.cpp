// Rendering of the reference application's pictures with GDI into a DIB section.
#include "KeptorPicturesUnit.h"

#include <cstring>

#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"

namespace zorbex::keptor {

std::vector<BYTE> MakeBitmapFile(long width, long height, COLORREF color) {
    if (width <= 0 || height <= 0)
        RaiseComError(E_INVALIDARG);
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + imageSize;
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = imageSize;
    std::vector<BYTE> bytes(file.bfSize, 0);
    std::memcpy(bytes.data(), &file, sizeof(file));
    std::memcpy(bytes.data() + sizeof(file), &info, sizeof(info));
    for (long y = 0; y < height; ++y) {
        BYTE* row = bytes.data() + file.bfOffBits + stride * static_cast<DWORD>(y);
        for (long x = 0; x < width; ++x) {
            row[x * 3] = GetBValue(color);
            row[x * 3 + 1] = GetGValue(color);
            row[x * 3 + 2] = GetRValue(color);
        }
    }
    return bytes;
}

std::vector<BYTE> RenderCardBitmap(long width, long height, COLORREF accent, const std::vector<std::wstring>& lines) {
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096)
        RaiseComError(E_INVALIDARG);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as a file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    TBitmapHandle bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    TMemoryDC dc(::CreateCompatibleDC(nullptr));
    if (!bitmap || !dc)
        RaiseError(L"The picture could not be drawn");
    {
        TSelectGuard select(dc.Get(), bitmap.Get());
        RECT whole{0, 0, width, height};
        TGdiObject paper(::CreateSolidBrush(RGB(0xFA, 0xFA, 0xF5)));
        TGdiObject band(::CreateSolidBrush(accent));
        TGdiObject frame(::CreateSolidBrush(RGB(0x70, 0x70, 0x70)));
        ::FillRect(dc.Get(), &whole, static_cast<HBRUSH>(paper.Get()));
        RECT stripe{0, 0, std::min<long>(6, width), height};
        ::FillRect(dc.Get(), &stripe, static_cast<HBRUSH>(band.Get()));
        ::FrameRect(dc.Get(), &whole, static_cast<HBRUSH>(frame.Get()));
        ::SetBkMode(dc.Get(), TRANSPARENT);
        ::SetTextColor(dc.Get(), RGB(0x20, 0x20, 0x20));
        int top = 3;
        for (size_t i = 0; i < lines.size(); ++i) {
            LOGFONTW font{};
            font.lfHeight = -11;
            font.lfWeight = i == 0 ? FW_BOLD : FW_NORMAL;
            wcscpy(font.lfFaceName, L"Tahoma");
            TGdiObject handle(::CreateFontIndirectW(&font));
            TSelectGuard selectFont(dc.Get(), handle.Get());
            RECT line{12, top, width - 4, height - 2};
            ::DrawTextW(dc.Get(), lines[i].c_str(), static_cast<int>(lines[i].size()), &line,
                        DT_LEFT | DT_TOP | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
            top += 15;
        }
        ::GdiFlush();
    }
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    std::vector<BYTE> bytes(file.bfSize);
    std::memcpy(bytes.data(), &file, sizeof(file));
    std::memcpy(bytes.data() + sizeof(file), &info.bmiHeader, sizeof(info.bmiHeader));
    std::memcpy(bytes.data() + file.bfOffBits, bits, imageSize);
    return bytes;
}

std::vector<BYTE> RenderUrlPreview(const std::wstring& url, COLORREF accent) {
    std::wstring rest = url;
    if (const size_t scheme = rest.find(L"://"); scheme != std::wstring::npos)
        rest = rest.substr(scheme + 3);
    const size_t slash = rest.find(L'/');
    const std::wstring host = slash == std::wstring::npos ? rest : rest.substr(0, slash);
    const std::wstring path = slash == std::wstring::npos ? L"/" : rest.substr(slash);
    return RenderCardBitmap(220, 64, accent, {host, path, L"Archived by Keptor"});
}

} // namespace zorbex::keptor
