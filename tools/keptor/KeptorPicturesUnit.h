// Pictures the reference Keptor application renders, as a real one would: a card with lines of text
// (a link's address for the domain-links menu, a page's host and path for the link preview), as the
// bytes of a Windows bitmap file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zorbex::keptor {

// A width x height card: a coloured band on the left, a frame, and the lines drawn in black on a
// light background (the first line bold). 24 bits per pixel, file header included.
std::vector<BYTE> RenderCardBitmap(long width, long height, COLORREF accent, const std::vector<std::wstring>& lines);

// A Windows bitmap file (file header included) of one colour, 24 bits per pixel.
std::vector<BYTE> MakeBitmapFile(long width, long height, COLORREF color);

// The preview card of a URL: its host on the first line, its path below.
std::vector<BYTE> RenderUrlPreview(const std::wstring& url, COLORREF accent);

} // namespace zorbex::keptor
