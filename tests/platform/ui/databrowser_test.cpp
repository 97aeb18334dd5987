// The list view over its content: cells, sorting, selection walk, user state.
#include "platform/ui/Application.h"
#include "platform/ui/DataBrowser.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/Testing.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
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

namespace {

// Items with a name each; names may repeat, so that the sort's stability
// shows. A comparison can be made to throw.
class FourColumnContent : public Content {
public:
    void SupplyItemData(ItemID item, PropertyID property, ItemData& data) override {
        if (property == 'name')
            data.SetText(names[item]);
        else
            data.SetText(CodeToString(property) + std::to_string(item));
    }
    bool CompareItems(ItemID a, ItemID b, PropertyID property) override {
        ++comparisons;
        if (throwOnCompare)
            throw std::runtime_error("no order");
        if (property == 'size')
            return a < b;
        return names[a] < names[b];
    }
    bool ItemIsEditable(ItemID, PropertyID property) override { return property == 'name'; }
    void ChangeItemData(ItemID item, PropertyID property, const ItemData& data) override {
        edits.emplace_back(item, property);
        names[item] = data.GetText();
    }
    void NotifyAboutItem(ItemID item, ItemMessage message) override {
        messages.emplace_back(item, message);
    }
    int Count(ItemMessage message) const {
        return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                              [&](const auto& m) { return m.second == message; }));
    }

    std::map<ItemID, std::string> names;
    bool throwOnCompare = false;
    int comparisons = 0;
    std::vector<std::pair<ItemID, PropertyID>> edits;
    std::vector<std::pair<ItemID, ItemMessage>> messages;
};

class FourColumnWindow : public NibWindow {
public:
    void FinishInit() override {
        content = new FourColumnContent;
        list = NibDataBrowserView::CreatePPxView(GetSysWindow(), 'LIST', 100, content);
    }
    NibDataBrowserView* list = nullptr;
    FourColumnContent* content = nullptr;
};

class FourColumnTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIApplication::EnsureForTests();
        window = Make();
        ASSERT_NE(window, nullptr);
        list = window->list;
        content = window->content;
        content->names = {{1, "b"}, {2, "a"}, {3, "b"}, {4, "a"}, {5, "c"}};
        list->AddItems({1, 2, 3, 4, 5});
    }
    void TearDown() override { delete window; }
    static FourColumnWindow* Make() {
        auto* made = MakeNibWindow<FourColumnWindow>(SysNib(), "ListWindow");
        if (made)
            made->Show();
        return made;
    }
    QTreeView* Tree() const { return static_cast<QTreeView*>(list->GetWidget()); }

    FourColumnWindow* window = nullptr;
    NibDataBrowserView* list = nullptr;
    FourColumnContent* content = nullptr;
};

} // namespace

TEST_F(FourColumnTest, SortsBothWaysStablyAndKeepsTheOrderWhenTheContentFails) {
    list->SetSortProperty('name');
    list->Sort();
    // Equal names keep the order they came in, both ways.
    EXPECT_EQ(list->GetItemsInOrder(), (std::vector<ItemID>{2, 4, 1, 3, 5}));
    list->SetSortOrderAscending(false);
    list->Sort();
    EXPECT_EQ(list->GetItemsInOrder(), (std::vector<ItemID>{5, 1, 3, 2, 4}));
    EXPECT_EQ(list->GetUserState()["sortAscending"], 0);

    // The header: a click on the sorted column turns the order, one on
    // another column sorts by it ascending.
    QHeaderView* header = Tree()->header();
    emit header->sectionClicked(0);
    EXPECT_EQ(list->GetItemsInOrder(), (std::vector<ItemID>{2, 4, 1, 3, 5}));
    emit header->sectionClicked(1);
    EXPECT_EQ(list->GetSortProperty(), PropertyID('size'));
    EXPECT_EQ(list->GetItemsInOrder(), (std::vector<ItemID>{1, 2, 3, 4, 5}));
    emit header->sectionClicked(1);
    EXPECT_EQ(list->GetItemsInOrder(), (std::vector<ItemID>{5, 4, 3, 2, 1}));
    EXPECT_GE(content->Count(kUserStateChanged), 3);

    content->throwOnCompare = true;
    list->SetSortProperty('name');
    list->Sort();
    EXPECT_GT(content->comparisons, 0);
    EXPECT_EQ(list->GetItemsInOrder(), (std::vector<ItemID>{5, 4, 3, 2, 1}));
    // A column the list does not have leaves the sort column as it was.
    list->SetSortProperty('none');
    EXPECT_EQ(list->GetSortProperty(), PropertyID('name'));
}

TEST_F(FourColumnTest, SelectionWalkFollowsSortsAndRemovals) {
    list->SetSelection({5, 2, 42, 3}); // an unknown item is passed over
    EXPECT_EQ(list->GetSelectedCount(), 3u);
    list->SetSortProperty('size');
    list->SetSortOrderAscending(false);
    list->Sort();
    std::vector<ItemID> walked;
    for (ItemID item = list->GetFirstSelectedItem(); item; item = list->GetNextSelectedItem(item))
        walked.push_back(item);
    EXPECT_EQ(walked, (std::vector<ItemID>{5, 3, 2}));

    const int before = content->Count(kSelectionSetChanged);
    list->RemoveItems({3});
    EXPECT_EQ(list->GetSelectedItems(), (std::vector<ItemID>{5, 2}));
    EXPECT_GT(content->Count(kSelectionSetChanged), before);
    EXPECT_EQ(list->GetNextSelectedItem(5), 2u);
    list->SetSelection({});
    EXPECT_EQ(list->GetSelectedCount(), 0u);
    EXPECT_EQ(list->GetFirstSelectedItem(), 0u);
    list->RemoveAllItems();
    list->SetSelection({1});
    EXPECT_EQ(list->GetSelectedCount(), 0u);
}

TEST_F(FourColumnTest, EditorHandsTheTextToTheContentOnlyForEditableCells) {
    list->OpenEditor(4, 'size');
    EXPECT_TRUE(Tree()->findChildren<QLineEdit*>().isEmpty());
    list->OpenEditor(4, 'name');
    const auto editors = Tree()->findChildren<QLineEdit*>();
    ASSERT_EQ(editors.size(), 1);
    QLineEdit* editor = editors.front();
    EXPECT_EQ(editor->text(), "a");
    editor->setText("renamed");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(editor, &enter);
    Testing::ProcessEvents();
    ASSERT_EQ(content->edits.size(), 1u);
    EXPECT_EQ(content->edits[0], std::make_pair(ItemID(4), PropertyID('name')));
    EXPECT_EQ(content->names[4], "renamed");

    // A change the content makes itself shows once the item is updated.
    int changed = 0;
    QObject::connect(Tree()->model(), &QAbstractItemModel::dataChanged,
                     [&changed](const QModelIndex& from, const QModelIndex& to) {
                         changed += to.row() - from.row() + 1;
                     });
    content->names[1] = "z";
    list->UpdateItems({1, 42});
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(Tree()->model()->data(Tree()->model()->index(0, 0)).toString(), "z");
}

TEST_F(FourColumnTest, UserStateRestoresEveryColumnOrderInAFreshList) {
    QHeaderView* header = Tree()->header();
    std::vector<int> order = {0, 1, 2, 3};
    do {
        // Put the columns in ORDER (visual position -> column), as the user drags them.
        for (int position = 0; position < 4; ++position)
            header->moveSection(header->visualIndex(order[position]), position);
        header->resizeSection(order[0], 150);
        UserState saved = list->GetUserState();
        for (int position = 0; position < 4; ++position)
            ASSERT_EQ(header->logicalIndex(position), order[position]);

        std::unique_ptr<FourColumnWindow> fresh(Make());
        ASSERT_NE(fresh, nullptr);
        fresh->list->SetUserState(saved);
        QHeaderView* freshHeader = static_cast<QTreeView*>(fresh->list->GetWidget())->header();
        for (int position = 0; position < 4; ++position)
            EXPECT_EQ(freshHeader->logicalIndex(position), order[position])
                << "order " << order[0] << order[1] << order[2] << order[3];
        EXPECT_EQ(freshHeader->sectionSize(order[0]), 150);
        // The last column stretches to the window: its width is not the user's.
        UserState restored = fresh->list->GetUserState();
        const std::string last = "width." + CodeToString(fresh->list->GetProperties()[order[3]]);
        restored.erase(last);
        saved.erase(last);
        EXPECT_EQ(restored, saved);
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(FourColumnTest, UserStateSkipsWhatItCannotUseAndTellsOfUserChanges) {
    list->SetSortProperty('kind');
    const UserState before = list->GetUserState();
    UserState odd = before;
    odd["width.name"] = 0;
    odd["width.size"] = 1000000;
    odd["position.kind"] = 9;
    odd["position.date"] = -1;
    odd["sortProperty"] = 'what';
    odd["width.gone"] = 80; // a column the list no longer has
    list->SetUserState(odd);
    EXPECT_EQ(list->GetUserState(), before);

    content->messages.clear();
    QHeaderView* header = Tree()->header();
    // (A resize may also change the stretching last column: more than one notice.)
    header->resizeSection(1, header->sectionSize(1) + 30);
    const int resized = content->Count(kUserStateChanged);
    EXPECT_GE(resized, 1);
    header->moveSection(0, 3);
    EXPECT_GT(content->Count(kUserStateChanged), resized);
    EXPECT_EQ(list->GetUserState()["position.name"], 3);
}

// After a select-all, a plain click on one row selects it alone and opens no
// editor; a click on the one row already selected opens the name's editor.
TEST_F(FourColumnTest, PlainClickOnOneOfSeveralSelectedRowsSelectsItAlone) {
    Tree()->setSelectionMode(QAbstractItemView::ExtendedSelection); // as the browser's list
    auto editors = [&] { return Tree()->findChildren<QLineEdit*>().size(); };
    auto click = [&] {
        QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {},
                          Tree()->visualRect(Tree()->model()->index(3, 0)).center());
        // The editor comes only once no double-click can follow.
        QTest::qWait(QApplication::doubleClickInterval() * 2);
    };
    list->SetSelection({1, 2, 3, 4, 5});
    click();
    EXPECT_EQ(list->GetSelectedItems(), std::vector<ItemID>{4});
    EXPECT_EQ(editors(), 0);
    click();
    for (int i = 0; i < 100 && editors() == 0; ++i)
        QTest::qWait(100);
    EXPECT_EQ(editors(), 1);
    EXPECT_EQ(list->GetSelectedItems(), std::vector<ItemID>{4});
}
