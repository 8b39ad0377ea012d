// The small forms layer: a form is a window whose designed content is declared data.
//
// A `TForm` is linked to its window when the window is created and unlinked after WM_DESTROY;
// its design (client size, visibility, controls) is a constant table in the form's own module.
#pragma once

#include <windows.h>

#include <span>
#include <string>

namespace zorbex {

// Declared content of a form.
struct TFormDesign {
    const wchar_t* Name;
    int ClientWidth;
    int ClientHeight;
    bool Visible;
};

class TForm {
public:
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;
    virtual ~TForm();

    HWND Handle() const { return Window; }
    const TFormDesign& Design() const { return FormDesign; }
    int Width() const;
    int Height() const;
    bool Visible() const { return Window && ::IsWindowVisible(Window); }
    void Show(bool visible);

    // The form object of a window created by this layer, or null.
    static TForm* FromHandle(HWND window);

    // Text height of "MS Sans Serif" 8 pt on this system, which forms are designed for at 13 pixels.
    static int DesignFontHeight();
    static int Scale(int designed);

protected:
    explicit TForm(const TFormDesign& design);
    // Creates the window (a child of parent when parent is set) with the designed size, scaled.
    void CreateHandle(HWND parent, DWORD style);
    // Destroys the window now; the form object stays.
    void DestroyHandle();

    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const TFormDesign& FormDesign;
    HWND Window = nullptr;
};

// Unregisters the window classes of this layer (at module unload).
void UnregisterFormClasses();

} // namespace zorbex
