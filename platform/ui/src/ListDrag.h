#pragma once
// Drags out of a list. On X11 the drop target is offered X direct save
// (XdndDirectSave0) and tells where it wants the items, which the content
// then writes there; elsewhere the content's files are offered as URLs.
namespace PPx {

namespace DataBrowser {
class View;
}

// The format that marks a drag of a list's own items (never taken back).
extern const char* const kListItemsMime;

// Runs the drag of the selected items of VIEW, from start to drop.
void StartListDrag(DataBrowser::View* view);

} // namespace PPx
