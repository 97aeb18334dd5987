// The list view over its content: cells, sorting, selection walk, user state.
#include "ppxui/Application.h"
#include "ppxui/DataBrowser.h"
#include "ppxui/Testing.h"
#include "ppxui/Window.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QTreeView>

#include <map>
#include <strings.h>

using namespace PPx;
using namespace PPx::DataBrowser;

namespace {

int gContentsDestroyed = 0;

// Items 1..n named by a table; 'size' holds numbers.
class NamesContent : public Content {
public:
    explicit NamesContent(std::map<ItemID, std::string> names) : mNames(std::move(names)) {}
    ~NamesContent() override { ++gContentsDestroyed; }
    void SupplyItemData(ItemID item, PropertyID property, ItemData& data) override {
        if (property == 'name')
            data.SetText(mNames[item]);
        else if (property == 'size')
            data.SetText(std::to_string(item * 10));
    }
    bool CompareItems(ItemID a, ItemID b, PropertyID property) override {
        if (property != 'name')
            return false;
        return strcasecmp(mNames[a].c_str(), mNames[b].c_str()) < 0;
    }
    void NotifyAboutItem(ItemID item, ItemMessage message) override {
        messages.emplace_back(item, message);
    }
    bool ItemIsEditable(ItemID, PropertyID property) override { return property == 'name'; }
    void ChangeItemData(ItemID item, PropertyID, const ItemData& data) override {
        mNames[item] = data.GetText();
    }
    std::map<ItemID, std::string> mNames;
    std::vector<std::pair<ItemID, ItemMessage>> messages;
};

class ListWindow : public NibWindow {
public:
    void FinishInit() override {
        mList = NibDataBrowserView::CreatePPxView(
            GetSysWindow(), 'LIST', 100,
            new NamesContent({{7, "seven"}, {3, "Three"}, {5, "five"}, {9, "nine"}}));
    }
    NibDataBrowserView* mList = nullptr;
};

class DataBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIApplication::EnsureForTests();
        window = MakeNibWindow<ListWindow>(SysNib(), "TestWindow");
        ASSERT_NE(window, nullptr);
        list = window->mList;
        content = static_cast<NamesContent*>(list->GetContent());
    }
    void TearDown() override { delete window; }
    ListWindow* window = nullptr;
    NibDataBrowserView* list = nullptr;
    NamesContent* content = nullptr;
};

} // namespace

TEST_F(DataBrowserTest, SelectionWalkFollowsTheListOrder) {
    list->AddItems({7, 5, 3, 9});
    EXPECT_EQ(list->GetSelectedCount(), 0u);
    EXPECT_EQ(list->GetFirstSelectedItem(), 0u);

    list->SetSelection({9, 3, 7});
    EXPECT_EQ(list->GetSelectedCount(), 3u);
    EXPECT_EQ(list->GetFirstSelectedItem(), 7u);
    EXPECT_EQ(list->GetNextSelectedItem(7), 3u);
    EXPECT_EQ(list->GetNextSelectedItem(3), 9u);
    EXPECT_EQ(list->GetNextSelectedItem(9), 0u);
    EXPECT_EQ(list->GetNextSelectedItem(5), 0u); // not selected
    ASSERT_FALSE(content->messages.empty());
    EXPECT_EQ(content->messages.back().second, kSelectionSetChanged);
}

TEST_F(DataBrowserTest, SortingAsksTheContentAndKeepsTheSelection) {
    list->AddItems({7, 5, 3, 9});
    list->SetSelection({3});
    list->SetSortProperty('name');
    list->Sort();
    EXPECT_EQ(list->GetItemsInOrder(), (std::vector<ItemID>{5, 9, 7, 3}));
    EXPECT_EQ(list->GetFirstSelectedItem(), 3u);
    // A column whose items never compare keeps the order.
    list->SetSortProperty('size');
    list->Sort();
    EXPECT_EQ(list->GetItemsInOrder(), (std::vector<ItemID>{5, 9, 7, 3}));

    auto* view = static_cast<QTreeView*>(list->GetWidget());
    QAbstractItemModel* model = view->model();
    EXPECT_EQ(model->data(model->index(0, 0)).toString(), "five");
    EXPECT_EQ(model->data(model->index(3, 1)).toString(), "30");
    // Editing a name cell hands the text to the content.
    EXPECT_TRUE(model->setData(model->index(0, 0), "FIVE", Qt::EditRole));
    EXPECT_EQ(content->mNames[5], "FIVE");
    EXPECT_FALSE(model->flags(model->index(0, 1)) & Qt::ItemIsEditable);

    list->RemoveItems({9});
    EXPECT_EQ(list->GetItemCount(), 3u);
    list->RemoveAllItems();
    EXPECT_EQ(list->GetItemCount(), 0u);
}

TEST_F(DataBrowserTest, UserStateRoundTripsAndContentIsOwned) {
    list->AddItems({7, 3});
    list->SetSortProperty('name');
    UserState state = list->GetUserState();
    EXPECT_EQ(state["sortProperty"], 'name');
    state["width.size"] = 123;
    state["sortAscending"] = 0;
    list->SetUserState(state);
    EXPECT_EQ(list->GetUserState()["width.size"], 123);
    EXPECT_EQ(list->GetUserState()["sortAscending"], 0);

    gContentsDestroyed = 0;
    list->SetContent(content); // the same one is kept
    EXPECT_EQ(gContentsDestroyed, 0);
    list->SetContent(new NamesContent({}));
    EXPECT_EQ(gContentsDestroyed, 1);
    delete window;
    window = nullptr;
    EXPECT_EQ(gContentsDestroyed, 2);
}

TEST_F(DataBrowserTest, DoubleClickAndHeaderClicksNotify) {
    list->AddItems({7, 3});
    auto* view = static_cast<QTreeView*>(list->GetWidget());
    emit view->doubleClicked(view->model()->index(1, 0));
    ASSERT_FALSE(content->messages.empty());
    EXPECT_EQ(content->messages.back(), std::make_pair(ItemID(3), kItemDoubleClicked));
    content->messages.clear();
    emit view->header()->sectionClicked(0);
    ASSERT_FALSE(content->messages.empty());
    EXPECT_EQ(content->messages.back().second, kUserStateChanged);
    EXPECT_EQ(list->GetItemsInOrder(), (std::vector<ItemID>{7, 3})); // seven < Three
}
