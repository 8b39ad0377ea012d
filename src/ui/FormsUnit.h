// The forms layer: window objects, forms, and the message timers they own.
//
// One mechanism ties a C++ object to a window, for forms and common controls alike: the object
// subclasses its window with comctl32's SetWindowSubclass (the object is the subclass's reference
// data) and hears every message in its virtual WndProc; it is unlinked at WM_NCDESTROY. A window
// object reflects the notifications its children send it (WM_COMMAND, WM_NOTIFY, WM_CTLCOLORSTATIC)
// back to the children's own objects, so each control handles its own clicks and colours.
//
// Forms are destroyed through `TFormPtr`, whose deleter first closes the form (BeforeDestruction,
// then DestroyWindow) while the whole object, its controls, timers and menus included, is still
// alive, and only then runs the destructors. No message ever reaches a destroyed member. A form that
// is closed while one of its handlers is still running (a modal menu, a call to another process that
// dispatches messages) is deleted when the last of them returns: every message to a form's window or
// to one of its controls' windows holds the form for its duration, and so can other callers (TFormHold).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zorbex {

class TForm;

class TWindowObject {
public:
    TWindowObject(const TWindowObject&) = delete;
    TWindowObject& operator=(const TWindowObject&) = delete;

    HWND Handle() const { return Window; }
    // The object of a window linked by this layer, or null.
    static TWindowObject* FromHandle(HWND window) noexcept;

protected:
    // owner: the form whose window or control this is; it is held while a message is handled.
    explicit TWindowObject(TForm* owner) : HoldForm(owner) {}
    // Destroys a window that is still linked (a control removed before its form closes).
    virtual ~TWindowObject();

    // Links this object to a window it has just created; raises when that fails.
    void Attach(HWND window);

    // Every message of the window. The base reflects child notifications and otherwise passes on.
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);
    // A notification that this control's parent received about it; true when handled.
    virtual bool ReflectedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    TForm* HoldForm;
    HWND Window = nullptr;
};

// Declared content of a form.
struct TFormDesign {
    const wchar_t* Name;
    int ClientWidth;
    int ClientHeight;
    bool Visible;
};

class TTimer;

// Owner-drawn menu items of a form are measured and drawn through the form's window; the menus that
// hold them register with the form as sources.
class TOwnerDrawSource {
public:
    virtual bool MeasureItem(MEASUREITEMSTRUCT& item) = 0;
    virtual bool DrawItem(const DRAWITEMSTRUCT& item) = 0;

protected:
    ~TOwnerDrawSource() = default;
};

// Closes a form (see above), then deletes it.
struct TFormDeleter {
    void operator()(TForm* form) const noexcept;
};
template <typename T> using TFormPtr = std::unique_ptr<T, TFormDeleter>;

// The message a form posts itself to bring its actions up to date.
inline constexpr UINT kRefreshMessage = WM_USER + 1;

class TForm : public TWindowObject {
public:
    // A form is not deleted while it is held; a form closed while held is deleted by its last release.
    void AddHold() noexcept { ++HoldCount; }
    void ReleaseHold() noexcept {
        if (--HoldCount == 0 && DeletePending)
            delete this;
    }
    // Whether the form has been closed and waits for its last release.
    bool ClosedWhileHeld() const { return DeletePending; }

    class TFormHold {
    public:
        explicit TFormHold(TForm& form) : Form(form) { Form.AddHold(); }
        TFormHold(const TFormHold&) = delete;
        TFormHold& operator=(const TFormHold&) = delete;
        ~TFormHold() { Form.ReleaseHold(); }
        bool Closed() const { return Form.ClosedWhileHeld(); }

    private:
        TForm& Form;
    };

    int Width() const;
    int Height() const;
    int ClientWidth() const;
    int ClientHeight() const;

    // The form's font, "MS Sans Serif" 8 pt, which its controls share.
    HFONT Font() const { return FormFont.get(); }

    // Posts the refresh message (never sent synchronously).
    void PostRefresh() const;

    void AddOwnerDrawSource(TOwnerDrawSource* source);
    void RemoveOwnerDrawSource(TOwnerDrawSource* source) noexcept;
    // A command id for a menu item, unique within the form among the ids not yet given back; ids are
    // 16-bit values (WM_COMMAND carries only the low word), so menus give theirs back when they are
    // cleared or destroyed. Raises when every id is in use.
    UINT NewMenuCommandId();
    void ReleaseMenuCommandId(UINT id) noexcept;

    // Text height of "MS Sans Serif" 8 pt on this system, which forms are designed for at 13 pixels.
    static int DesignFontHeight();
    // A designed size scaled by the ratio of this system's text height to the designed 13 pixels. The
    // system's text scale is read once per process, as the system itself reads it at process start.
    static int Scale(int designed);

    // The sizes the toolbar images are drawn at, the design's first.
    static constexpr int kImageSizes[] = {16, 20, 24, 32};
    // The side of the toolbar images that fits the text scale: the largest of kImageSizes whose scale
    // (side / 16) the text height reaches, the nearest smaller size in between; 16 at 96 dots per inch,
    // 20 at 120, 24 at 144, 32 at 192.
    static int ImageSize();

protected:
    explicit TForm(const TFormDesign& design);
    // Only TFormDeleter deletes a form, after closing it.
    ~TForm() override;

    // Creates the window (a child of parent when parent is set) with the designed client size, scaled.
    void CreateHandle(HWND parent, DWORD style, DWORD exStyle = 0);
    // Gives the window another client height (its content may need more than the designed height).
    void SetClientHeight(int height);

    // Runs once, while the form is whole and its window still exists, before the window is destroyed.
    virtual void BeforeDestruction() {}
    // Marks the form as fully built: only a built form runs BeforeDestruction when it is closed.
    void MarkCreated() { Created = true; }
    // The handler of the refresh message: brings every action up to date.
    virtual void UpdateActions() {}
    // The keyboard focus came to (gained) or left one of the form's windows, its own or a control's;
    // other is the window it left or goes to (null when none or another thread's).
    virtual void FocusChanged(bool gained, HWND other) { (void)gained, (void)other; }

    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    friend struct TFormDeleter;
    friend class TTimer;
    friend class TWindowObject;
    struct TFontDeleter {
        void operator()(HFONT font) const noexcept { ::DeleteObject(font); }
    };

    void Close() noexcept;

    const TFormDesign& FormDesign;
    std::unique_ptr<std::remove_pointer_t<HFONT>, TFontDeleter> FormFont;
    std::vector<TTimer*> Timers; // registered by the timers the form's members own
    UINT_PTR NextTimerId = 1;
    std::vector<TOwnerDrawSource*> OwnerDrawSources;
    UINT NextMenuCommandId = 1;
    std::vector<bool> MenuCommandIdsInUse; // by id
    int HoldCount = 0;
    bool DeletePending = false;
    bool Created = false;
};

// A message timer of a form's window. Created stopped; stops for good when destroyed.
class TTimer {
public:
    TTimer(TForm& owner, UINT interval, std::function<void()> onTimer);
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;
    ~TTimer();

    bool Enabled() const { return Running; }
    UINT Interval() const { return TimerInterval; }
    // Changing the interval of a running timer restarts it.
    void SetInterval(UINT interval);
    void SetOnTimer(std::function<void()> onTimer) { OnTimer = std::move(onTimer); }
    void Start();
    void Stop() noexcept;

private:
    friend class TForm;
    void Tick();

    TForm& Owner;
    UINT_PTR Id;
    UINT TimerInterval;
    std::function<void()> OnTimer;
    bool Running = false;
};

// A plain child window of this layer's window class (button-face background), to hold controls.
HWND CreateContainerWindow(HWND parent, DWORD style, int x, int y, int width, int height);

// Unregisters the window classes of this layer (at module unload).
void UnregisterFormClasses();

} // namespace zorbex
