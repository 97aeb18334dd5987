#pragma once
// Wrappers of the controls of a nib-made window. Each wraps the widget whose
// objectName is the control's signature; the wrappers live as long as their
// widget (they are owned by it) and are found again from it.
#include "platform/ui/Nib.h"
#include "platform/ui/Window.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class QWidget;
class QObject;

namespace PPx {

class Window;

struct ControlID {
    uint32_t signature = 0;
    int32_t id = 100;
};

// Finds the widget with the signature in a window; null when there is none.
QWidget* FindControl(SysWindow window, uint32_t signature);

class View : public CommandTarget {
public:
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // Takes over the control (SIGNATURE, ID) of WINDOW. Raises "GetControlByID
    // failed" when the window holds no such control or it is of another kind.
    virtual void Initialize(SysWindow window, const ControlID& id);

    QWidget* GetWidget() const { return mWidget; }
    uint32_t GetSignature() const { return mSignature; }
    // The command the control sends (its "command" property), 0 when none.
    uint32_t GetCommand() const;
    void SetCommand(uint32_t command);

    void Enable() { SetEnabled(true); }
    void Disable() { SetEnabled(false); }
    void SetEnabled(bool enabled);
    bool IsEnabled() const;
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    void SetVisible(bool visible);
    bool IsVisible() const;
    void SetFocus();
    bool HasFocus() const;

    // The numeric value: check state 0/1, selected radio or menu item and
    // tab counting from 1, progress.
    virtual int32_t GetValue() const { return 0; }
    virtual void SetValue(int32_t) {}
    virtual int32_t GetMaxValue() const { return 0; }
    virtual void SetMaxValue(int32_t) {}
    virtual void SetMinValue(int32_t) {}
    // The text: a field's contents, a label's or a button's title (UTF-8).
    virtual std::string GetText() const;
    virtual void SetText(const std::string& text);

    // The control sends its command as if the user had clicked it.
    void SimulateClick();

    // The wrapper bound to WIDGET, if any.
    static View* FromWidget(const QWidget* widget);

protected:
    View() = default;
    // Which widget classes the wrapper accepts.
    virtual bool Accepts(const QWidget* widget) const = 0;
    // Connects the widget's signals; called once the widget is taken over.
    virtual void Connect() {}
    // Sends the control's command through the window's command path.
    void SendCommand();
    void EnterHandler() override;
    void LeaveHandler() override;

    QWidget* mWidget = nullptr;
    uint32_t mSignature = 0;
    QObject* mOwner = nullptr; // deletes this wrapper with the widget

private:
    friend class ViewOwner;
    std::vector<Window::Busy*> mBusy;
};

// The nib factory every wrapper offers: make, bind, and on failure destroy.
template <class T, class... Args>
T* CreateView(SysWindow window, uint32_t signature, int32_t id, Args&&... args) {
    T* view = new T(std::forward<Args>(args)...);
    try {
        view->Initialize(window, ControlID{signature, id});
    } catch (...) {
        delete view;
        throw;
    }
    return view;
}

class PushButton : public View {
public:
    void SetDefault(bool isDefault);
    // Carbon sends a button's command on release.
    std::string GetText() const override;
    void SetText(const std::string& text) override;

protected:
    bool Accepts(const QWidget* widget) const override;
    void Connect() override;
};

class BevelButton : public PushButton {};

class CheckBox : public View {
public:
    int32_t GetValue() const override;
    void SetValue(int32_t value) override;
    std::string GetText() const override;
    void SetText(const std::string& text) override;

protected:
    bool Accepts(const QWidget* widget) const override;
    void Connect() override;
};

// A group box whose title is a check box; its value is the check state.
class CheckBoxGroupBox : public View {
public:
    int32_t GetValue() const override;
    void SetValue(int32_t value) override;

protected:
    bool Accepts(const QWidget* widget) const override;
    void Connect() override;
};

class EditUnicodeText : public View {
public:
    std::string GetText() const override;
    void SetText(const std::string& text) override;
    void SelectAll();
    void SetPassword(bool hidden);

protected:
    bool Accepts(const QWidget* widget) const override;
};

// A pop-up menu: items counted from 1, each with its text and command.
class PopupButton : public View {
public:
    int32_t GetValue() const override;
    void SetValue(int32_t value) override;
    int32_t GetMaxValue() const override;
    void SetMaxValue(int32_t) override {}
    void RemoveAllItems();
    void AppendItem(const std::string& text, uint32_t command = 0);
    void AppendSeparator();
    void InsertItem(int32_t after, const std::string& text, uint32_t command = 0);
    std::string GetItemText(int32_t index) const;
    uint32_t GetItemCommand(int32_t index) const; // 0 outside the menu

protected:
    bool Accepts(const QWidget* widget) const override;
    void Connect() override;
};

class ProgressBar : public View {
public:
    int32_t GetValue() const override;
    void SetValue(int32_t value) override;
    int32_t GetMaxValue() const override;
    void SetMaxValue(int32_t value) override;
    void SetMinValue(int32_t value) override;
    void SetIndeterminate(bool on);

protected:
    bool Accepts(const QWidget* widget) const override;
};

// Radio buttons inside a group box; the value is the checked button's
// position (from 1, in the order the box holds them), 0 when none.
class RadioGroup : public View {
public:
    int32_t GetValue() const override;
    void SetValue(int32_t value) override;
    int32_t GetMaxValue() const override;

protected:
    bool Accepts(const QWidget* widget) const override;
    void Connect() override;
};

class StaticText : public View {
public:
    // One line; a text too long for the control shows its start and end
    // with an ellipsis between. GetText still gives the whole text.
    void SetMiddleTruncation();
    std::string GetText() const override;
    void SetText(const std::string& text) override;

protected:
    bool Accepts(const QWidget* widget) const override;

private:
    QObject* mTruncation = nullptr; // owned by the widget
};

// A read-only text view for longer texts.
class TextView : public View {
public:
    std::string GetText() const override;
    void SetText(const std::string& text) override;

protected:
    bool Accepts(const QWidget* widget) const override;
};

// Tabs; the value is the selected tab from 1; the panels are the tabs' panes.
class TabView : public View {
public:
    int32_t GetValue() const override;
    void SetValue(int32_t value) override;
    int32_t GetMaxValue() const override;

protected:
    bool Accepts(const QWidget* widget) const override;
    void Connect() override;
};

// The nib-bound names the windows use; each offers the factory
// CreatePPxView(window, signature, id).
template <class Self, class Base> class Nib : public Base {
public:
    static Self* CreatePPxView(SysWindow window, uint32_t signature, int32_t id = 100) {
        return CreateView<Self>(window, signature, id);
    }
};

class NibBevelButton : public Nib<NibBevelButton, BevelButton> {};
class NibPushButton : public Nib<NibPushButton, PushButton> {};
class NibCheckBox : public Nib<NibCheckBox, CheckBox> {};
class NibCheckBoxGroupBox : public Nib<NibCheckBoxGroupBox, CheckBoxGroupBox> {};
class NibEditUnicodeText : public Nib<NibEditUnicodeText, EditUnicodeText> {};
class NibPopupButton : public Nib<NibPopupButton, PopupButton> {};
class NibProgressBar : public Nib<NibProgressBar, ProgressBar> {};
class NibRadioGroup : public Nib<NibRadioGroup, RadioGroup> {};
class NibStaticText : public Nib<NibStaticText, StaticText> {};
class NibTextView : public Nib<NibTextView, TextView> {};

// A pane of a tab view; its signature is the pane's objectName.
struct Panel {
    QWidget* widget = nullptr;
    uint32_t GetSignature() const;
    void SetEnabled(bool enabled) const;
    void SetVisible(bool visible) const;
};

class NibTabView : public Nib<NibTabView, TabView> {
public:
    void Initialize(SysWindow window, const ControlID& id) override;
    int32_t GetPanelCount() const { return static_cast<int32_t>(mPanels.size()); }
    // Null widget when the index is outside the panels.
    Panel GetPanel(int32_t index) const;

private:
    std::vector<QWidget*> mPanels;
};

} // namespace PPx
