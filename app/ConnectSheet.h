#pragma once
// The sheet in which one connection bookmark is filled in or changed. Run
// it with DoModal; on 'ok  ' take the bookmark with GetData.
#include "app/BookmarkSheet.h"

#include <string>

class ConnectSheet : public BookmarkSheet<sBookMarkData> {
public:
    ConnectSheet();
    ConnectSheet(const sBookMarkData& bookmark, bool editing);

    const char* ClassName() const override { return "ConnectSheet"; }

    bool CheckUniqueName(const std::string& name) override;
};
