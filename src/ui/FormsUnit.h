// The forms layer: a form is a C++ object tied to one window whose designed content is declared data.
//
// One mechanism links objects to windows: the window procedure of the form class finds its form in
// GWLP_USERDATA (set at WM_NCCREATE, cleared at WM_NCDESTROY) and calls the form's virtual WndProc.
// Derived forms hear every message, focus included, by overriding WndProc; nothing subclasses a form.
//
// Forms are destroyed through `TFormPtr`, whose deleter first closes the form (BeforeDestruction, then
// DestroyWindow) while the whole object, its controls, timers and menus included, is still alive, and
// only then runs the destructors. No message ever reaches a destroyed member.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace zorbex {

// Declared content of a form.
struct TFormDesign {
    const wchar_t* Name;
    int ClientWidth;
    int ClientHeight;
    bool Visible;
};

class TForm;

// Closes a form (see above), then deletes it.
struct TFormDeleter {
    void operator()(TForm* form) const noexcept;
};
template <typename T> using TFormPtr = std::unique_ptr<T, TFormDeleter>;

class TForm {
public:
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    HWND Handle() const { return Window; }
    int Width() const;
    int Height() const;

    // Text height of "MS Sans Serif" 8 pt on this system, which forms are designed for at 13 pixels.
    static int DesignFontHeight();
    static int Scale(int designed);

protected:
    explicit TForm(const TFormDesign& design);
    // Only TFormDeleter deletes a form, after closing it.
    virtual ~TForm();

    // Creates the window (a child of parent when parent is set) with the designed size, scaled.
    void CreateHandle(HWND parent, DWORD style);

    // Runs once, while the form is whole and its window still exists, before the window is destroyed.
    virtual void BeforeDestruction() {}
    // Marks the form as fully built: only a built form runs BeforeDestruction when it is closed.
    void MarkCreated() { Created = true; }

    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    friend struct TFormDeleter;
    void Close() noexcept;
    static LRESULT CALLBACK StaticWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const TFormDesign& FormDesign;
    HWND Window = nullptr;
    bool Created = false;
};

// Unregisters the window classes of this layer (at module unload).
void UnregisterFormClasses();

} // namespace zorbex
