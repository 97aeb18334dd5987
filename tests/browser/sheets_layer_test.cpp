// What the window layer gained for the toolbar and the sheets: icons that
// are missing or broken, display modes, texts cut in the middle, progress
// bars that come back to their range, commands changed at run time.
#include "app/NibWindow.h"
#include "platform/ui/Toolbar.h"
#include "tests/browser/sheets_testing.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QToolBar>

#include <fstream>

using namespace sheetstest;

namespace {

class Bar : public PPx::Toolbar {
public:
    explicit Bar(std::vector<PPx::ToolbarItem> items) : Toolbar("org.zarvel.bar"), mItems(items) {}

protected:
    void GetDefaultIdentifiers(std::vector<std::string>& out) override {
        for (auto& item : mItems)
            out.push_back(item.identifier);
    }
    void GetAllowedIdentifiers(std::vector<std::string>& out) override {
        GetDefaultIdentifiers(out);
    }
    bool CreateItem(const std::string& identifier, PPx::ToolbarItem& item) override {
        for (auto& known : mItems)
            if (known.identifier == identifier) {
                item = known;
                return true;
            }
        return false;
    }

private:
    std::vector<PPx::ToolbarItem> mItems;
};

using Layer = SheetTest;

TEST_F(Layer, ToolbarIconsMissingOrBrokenGiveNone) {
    const std::string broken = ::testing::TempDir() + "/broken.png";
    std::ofstream(broken) << "not a picture";
    const std::string good = PPx::SysNib::ResourcesFolder() + "/refresh.png";
    auto item = [](const char* id, const char* themeName, const std::string& file) {
        PPx::ToolbarItem made;
        made.identifier = id;
        made.label = id;
        made.iconName = themeName;
        made.iconFile = file;
        return made;
    };
    Bar bar({item("good", "", good), item("missing", "", "/nowhere/none.png"),
             item("broken", "", broken), item("themed", "zarvel-no-such-theme-icon", "")});
    bar.SetDisplayMode(PPx::Toolbar::kDisplayModeLabelOnly);
    bar.SetDisplaySize(PPx::Toolbar::kDisplaySizeSmall);
    bar.Attach(mOwner);
    EXPECT_TRUE(bar.ItemHasIcon("good"));
    for (const char* id : {"missing", "broken", "themed"}) {
        EXPECT_TRUE(bar.HasItem(id)) << id;
        EXPECT_FALSE(bar.ItemHasIcon(id)) << id;
    }
    auto* qbar = mOwner->GetSysWindow()->findChild<QToolBar*>("org.zarvel.bar");
    ASSERT_NE(qbar, nullptr);
    EXPECT_EQ(qbar->toolButtonStyle(), Qt::ToolButtonTextOnly);
    EXPECT_EQ(qbar->iconSize(), QSize(24, 24));
    bar.SetDisplayMode(99); // unknown: the default
    EXPECT_EQ(bar.GetDisplayMode(), PPx::Toolbar::kDisplayModeDefault);
    EXPECT_EQ(qbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
}

TEST_F(Layer, MiddleTruncationKeepsTheWholeText) {
    auto* sheet = PPx::MakeNibWindow<NibSheetWindow>(PPx::SysNib(), "DeleteSheet");
    ASSERT_NE(sheet, nullptr);
    auto* text = NibStaticText::CreatePPxView(sheet->GetSysWindow(), 'ITEM');
    auto* label = static_cast<QLabel*>(text->GetWidget());
    text->SetMiddleTruncation();
    sheet->Show(mOwner);
    label->resize(120, label->height());
    const std::string whole = "start-of-a-long-name/" + std::string(60, 'x') + "/the-end.txt";
    text->SetText(whole);
    EXPECT_EQ(text->GetText(), whole);
    const QString shown = label->text();
    EXPECT_LT(shown.size(), static_cast<qsizetype>(whole.size()));
    EXPECT_TRUE(shown.startsWith("start")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(".txt")) << shown.toStdString();
    EXPECT_EQ(label->toolTip().toStdString(), whole);
    label->resize(2000, label->height()); // room enough: all of it
    EXPECT_EQ(label->text().toStdString(), whole);
    sheet->Hide();
    delete sheet;
}

TEST_F(Layer, ProgressRangeSurvivesBusyAndCommandsChange) {
    auto* sheet = PPx::MakeNibWindow<NibSheetWindow>(PPx::SysNib(), "TransferSheet");
    ASSERT_NE(sheet, nullptr);
    auto* bar = NibProgressBar::CreatePPxView(sheet->GetSysWindow(), 'CFPR');
    bar->SetMinValue(0);
    bar->SetMaxValue(7);
    bar->SetIndeterminate(true);
    EXPECT_EQ(bar->GetMaxValue(), 0);
    bar->SetIndeterminate(false);
    EXPECT_EQ(bar->GetMaxValue(), 7);
    bar->SetIndeterminate(false); // already determinate: unchanged
    EXPECT_EQ(bar->GetMaxValue(), 7);

    auto* button = NibPushButton::CreatePPxView(sheet->GetSysWindow(), 'cncl');
    EXPECT_EQ(button->GetCommand(), 'not!');
    button->SetCommand('ok  ');
    EXPECT_EQ(button->GetCommand(), 'ok  ');
    button->SetCommand(0);
    EXPECT_EQ(button->GetCommand(), 0u);
    delete sheet;
}

} // namespace
