// The controls of the forms layer, only what the toolbars and hint windows use: actions and their
// list, image lists, common-controls toolbars whose buttons show their actions, framed label panels
// that size themselves to their captions, and owner-drawn pop-up menus.
//
// Everything a person or an accessibility tool sees is the platform's own: toolbar buttons carry
// their action's image index, state and caption; a label is a Static whose window text is its
// caption and whose colours are painted through WM_CTLCOLORSTATIC; menus are Win32 pop-up menus.
// A form declares its actions and controls as constant tables and builds them with these classes.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "com/ComSupportUnit.h"
#include "ui/FormsUnit.h"

namespace zorbex {

// A colour as the Keptor application and the designs give it (0x00BBGGRR, or a system colour code
// with the top bit set) as a plain 0x00BBGGRR value.
COLORREF ColorToRGB(LONG color) noexcept;

// Whether the person has switched a high-contrast theme on: colours then come from the system's, and what
// a colour would tell is told by text.
bool HighContrastOn() noexcept;

// --- Actions -----------------------------------------------------------------------------------------

class TAction {
public:
    TAction(std::wstring name, std::wstring caption, std::wstring hint, int imageIndex);
    TAction(const TAction&) = delete;
    TAction& operator=(const TAction&) = delete;

    const std::wstring& Name() const { return ActionName; }
    const std::wstring& Caption() const { return ActionCaption; }
    const std::wstring& Hint() const { return ActionHint; }
    int ImageIndex() const { return Image; }
    bool Enabled() const { return IsEnabled; }
    bool Checked() const { return IsChecked; }
    void SetHint(std::wstring hint);
    void SetImageIndex(int index);
    void SetEnabled(bool enabled);
    void SetChecked(bool checked);

    std::function<void(TAction&)> OnUpdate;
    std::function<void(TAction&)> OnExecute;

    // Runs the update handler.
    void Update();
    // Runs the update handler, then the execute handler when the action is enabled; true when it ran.
    bool Execute();

    // Controls that show the action hear every change of its state.
    void Bind(const void* client, std::function<void(const TAction&)> changed);
    void Unbind(const void* client) noexcept;

private:
    void Changed();

    std::wstring ActionName;
    std::wstring ActionCaption;
    std::wstring ActionHint;
    int Image;
    bool IsEnabled = true;
    bool IsChecked = false;
    std::vector<std::pair<const void*, std::function<void(const TAction&)>>> Clients;
};

// A form's actions as its design declares them: name, caption, hint, image index, handlers.
template <typename F> struct TActionDesign {
    const wchar_t* Name;
    const wchar_t* Caption;
    const wchar_t* Hint;
    int ImageIndex;
    void (F::*Update)(TAction&);
    void (F::*Execute)(TAction&);
};

class TActionList {
public:
    template <typename F, size_t N> void Load(F& form, const TActionDesign<F> (&design)[N]) {
        for (const auto& entry : design) {
            TAction& action = Add(entry.Name, entry.Caption, entry.Hint ? entry.Hint : L"", entry.ImageIndex);
            if (entry.Update)
                action.OnUpdate = [&form, handler = entry.Update](TAction& a) { (form.*handler)(a); };
            if (entry.Execute)
                action.OnExecute = [&form, handler = entry.Execute](TAction& a) { (form.*handler)(a); };
        }
    }
    TAction& Add(std::wstring name, std::wstring caption, std::wstring hint, int imageIndex);
    // The action of that name; raises when there is none.
    TAction& operator[](std::wstring_view name) const;
    // Runs every update handler, in list order.
    void UpdateAll();
    const std::vector<std::unique_ptr<TAction>>& Items() const { return Actions; }

private:
    std::vector<std::unique_ptr<TAction>> Actions;
};

// --- Image lists -------------------------------------------------------------------------------------

class TImageList {
public:
    TImageList() = default;
    TImageList(const TImageList&) = delete;
    TImageList& operator=(const TImageList&) = delete;
    ~TImageList();

    HIMAGELIST Handle() const { return List; }
    // A list of side x side images with alpha, loaded from a horizontal strip in this module's
    // resources: designResourceId names the 16-pixel strip, side one of TForm::kImageSizes.
    void LoadStrip(UINT designResourceId, int side);
    // Empties the list and gives it a new image size.
    void Reset(int width, int height);
    // Adds a picture (copied; no mask); raises on failure.
    void Add(HBITMAP bitmap);
    int Count() const;
    int ImageWidth() const;
    int ImageHeight() const;

private:
    HIMAGELIST List = nullptr;
};

// --- Toolbars ----------------------------------------------------------------------------------------

class TPopupMenu;

struct TToolBarStyle {
    bool List;         // image left of the caption
    bool ShowCaptions; // captions drawn; otherwise kept as button texts only
    int ButtonWidth;   // 0: sized to the content
};

class TToolBar : public TWindowObject {
public:
    struct TButton {
        std::wstring Name;
        int CommandId;
        TAction* Action;          // supplies image, caption, state; null for a plain button
        std::function<void()> OnClick; // for a button without an action
        std::function<void()> OnDropDown; // the arrow part of a drop-down button
        HWND Control;             // a child control placed over a separator, or null
        LONG_PTR Tag;
        TPopupMenu* DropDownMenu = nullptr; // opened by the arrow part when there is no OnDropDown
    };

    // The drop-down arrow's glyph as the toolbar draws it at the design scale: 5 x 3 pixels; and the width
    // of the arrow part where the toolbar does not report it (comctl32 before version 6 answers no
    // TB_GETITEMDROPDOWNRECT and makes every arrow part 11 pixels wide).
    static constexpr int kArrowWidth = 5;
    static constexpr int kClassicArrowPartWidth = 11;

    TToolBar(TForm& form, HWND parent, const TToolBarStyle& style, HIMAGELIST images, HIMAGELIST hotImages);
    ~TToolBar() override;

    // Adds a button at position (-1: the end) showing an action; returns it.
    TButton& AddActionButton(std::wstring name, TAction& action, bool visible, int position = -1);
    // Adds a plain button with a caption and an image; drop-down buttons get an arrow part.
    TButton& AddButton(std::wstring name, const std::wstring& caption, int imageIndex, bool dropDown,
                       bool visible, int position = -1);
    // A plain button as AddButton takes it.
    struct TButtonDesign {
        std::wstring Name;
        std::wstring Caption;
        int ImageIndex;
        bool DropDown;
        bool Visible;
    };
    // Adds plain buttons after the last one, in one go (the toolbar lays itself out once, not once a
    // button); returns them in order.
    std::vector<TButton*> AddButtons(const std::vector<TButtonDesign>& buttons);
    // Adds a child control over a separator as wide as the control.
    TButton& AddControl(std::wstring name, HWND control, bool visible);
    void DeleteButton(int commandId);
    void SetButtonVisible(int commandId, bool visible);
    TButton* Find(int commandId) const;
    TButton* FindByName(std::wstring_view name) const;
    const std::vector<std::unique_ptr<TButton>>& Buttons() const { return ButtonList; }

    // Opens a menu below a button, as its arrow part does (modal).
    void DropDown(const TButton& button, TPopupMenu& menu);

    // Width from the left edge to the right edge of the last shown item.
    int ContentWidth() const;
    // Height of the buttons, as the toolbar sizes them for its images and font.
    int ButtonHeight() const;
    // Re-measures the controls placed on the toolbar and moves them over their separators.
    void LayoutControls();

    // The keyboard. The buttons and placed controls that are shown, left to right.
    std::vector<TButton*> ShownButtons() const;
    bool ButtonEnabled(int commandId) const;
    // The button marked hot (where the keyboard is, or the mouse): by command id, -1 for none.
    int HotButton() const;
    void SetHotButton(int commandId);
    // What Enter does on a button: its click, through the toolbar's own WM_COMMAND path.
    void PressButton(int commandId);
    // What Down does on a drop-down button: its arrow part, through TBN_DROPDOWN. False for another button.
    bool OpenDropDown(int commandId);
    // A key pressed while the toolbar has the focus (Alt held: alt); true when it was used.
    std::function<bool(HWND window, UINT key, bool alt)> OnKey;

    // The mouse moved over an enabled button of this toolbar.
    std::function<void(TButton&)> OnButtonMouseMove;

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool ReflectedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    TButton& Insert(std::unique_ptr<TButton> button, TBBUTTON& info, int position);
    // A plain button and its toolbar description, not yet added.
    std::unique_ptr<TButton> NewButton(const TButtonDesign& design, TBBUTTON& info);
    // Custom drawing: the drop-down arrows drawn to the text scale (see DrawDropDownArrow).
    bool CustomDraw(NMTBCUSTOMDRAW& draw, LRESULT& result);
    void DrawDropDownArrow(const NMTBCUSTOMDRAW& draw);
    // The arrow part of a drop-down button, as the toolbar places it.
    RECT DropDownRect(int commandId, const RECT& button) const;
    void ShowAction(TButton& button, const TAction& action);
    int IndexOf(int commandId) const;
    int NewCommandId();

    TForm& Owner;
    std::vector<std::unique_ptr<TButton>> ButtonList;
    int NextCommandId = 100;
    bool ShowCaptions = false;
};

// --- Labels and panels -------------------------------------------------------------------------------

// A framed Static that sizes itself to its caption and paints its own colours.
class TLabel : public TWindowObject {
public:
    TLabel(TForm& form, HWND parent, int left, int top, int height, const std::wstring& caption);

    std::wstring Caption() const;
    void SetCaption(const std::wstring& caption);
    const std::wstring& Hint() const { return LabelHint; }
    void SetHint(std::wstring hint) { LabelHint = std::move(hint); }
    bool Enabled() const;
    void SetEnabled(bool enabled);
    COLORREF TextColor() const { return Text; }
    void SetColors(COLORREF text, COLORREF back);
    int Width() const;
    int Height() const;

    std::function<void()> OnClick;
    std::function<void(int x, int y)> OnMouseMove; // client coordinates
    std::function<void()> OnResize;
    // A key pressed while the label has the focus (Alt held: alt); true when it was used.
    std::function<bool(HWND window, UINT key, bool alt)> OnKey;

protected:
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool ReflectedMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void AutoSize();
    // The focus rectangle inside the frame, while the label has the focus.
    void PaintFocus();

    std::wstring LabelHint;
    COLORREF Text;
    COLORREF Back;
    TGdiObject BackBrush;
};

// A borderless child window with a 3-pixel margin around one label; sizes itself to the label.
class TPanel : public TWindowObject {
public:
    static constexpr int kBorder = 3;

    TPanel(TForm& form, HWND parent, int height, const std::wstring& caption);
    TLabel& Label() { return *PanelLabel; }
    int Width() const;
    // Another height for the panel; the label keeps its margins and stays high enough for its text.
    void SetHeight(int height);

    std::function<void()> OnResize;

private:
    void Fit();

    std::unique_ptr<TLabel> PanelLabel;
    TForm& Owner;
    int PanelHeight;
};

// --- Pop-up menus ------------------------------------------------------------------------------------

class TPopupMenu;

struct TMenuItem {
    // What an accessibility tool reads of an owner-drawn item (the item data points here): its caption.
    MSAAMENUINFO Accessible{MSAA_MENU_SIG, 0, nullptr};
    UINT CommandId = 0;
    LONG_PTR Tag = 0;
    std::wstring Caption;
    int ImageIndex = -1;
    std::wstring Hint;
    std::function<void(TMenuItem&)> OnClick;
    // Owner-drawn items: their size and their picture.
    std::function<void(TMenuItem&, MEASUREITEMSTRUCT&)> OnMeasure;
    std::function<void(TMenuItem&, const DRAWITEMSTRUCT&)> OnDraw;
};

class TPopupMenu : public TOwnerDrawSource {
public:
    // The menu's owner-drawn items are measured and drawn through the form's window.
    TPopupMenu(TForm& form, bool ownerDraw);
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;
    ~TPopupMenu();

    HMENU Handle() const { return Menu; }
    // Images of the items of a menu that is not owner-drawn: an item added with an image index shows
    // that image beside its caption (drawn through the form's window). Set before adding items.
    void SetImages(HIMAGELIST images) { Images = images; }
    // An owner-drawn item shows no caption; it is still its name for accessibility tools.
    TMenuItem& Add(LONG_PTR tag, std::wstring caption, int imageIndex = -1, int position = -1);
    void Clear();
    int Count() const { return static_cast<int>(Items.size()); }
    const std::vector<std::unique_ptr<TMenuItem>>& MenuItems() const { return Items; }
    TMenuItem* FindCommand(UINT commandId) const;

    // Opens the menu at a screen point (modal) and runs the chosen item's click handler.
    void Popup(int x, int y);

    bool MeasureItem(MEASUREITEMSTRUCT& item) override;
    bool DrawItem(const DRAWITEMSTRUCT& item) override;

private:
    TForm& Owner;
    bool OwnerDraw;
    HMENU Menu = nullptr;
    HIMAGELIST Images = nullptr;
    std::vector<std::unique_ptr<TMenuItem>> Items;
};

} // namespace zorbex
