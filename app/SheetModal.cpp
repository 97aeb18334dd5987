#include "app/SheetModal.h"

uint32_t RunSheetModal(PPx::SheetWindow& sheet, PPx::Window* parent, const uint32_t& result) {
    sheet.Show(parent);
    PPx::RunAppModalLoopForWindow(&sheet);
    sheet.Hide();
    return result;
}

PPx::OSStatus EndSheetModal(PPx::SheetWindow& sheet, uint32_t& result, uint32_t answer) {
    result = answer;
    PPx::QuitAppModalLoopForWindow(&sheet);
    return PPx::noErr;
}
