#pragma once
// The modal loop every sheet runs: shown on its parent until one of its
// commands ends the loop with an answer ('ok  ', 'not!', ...).
#include "app/NibWindow.h"

#include <cstdint>

// Shows SHEET on PARENT, runs its loop and hides it again; RESULT as the
// ending command left it.
uint32_t RunSheetModal(PPx::SheetWindow& sheet, PPx::Window* parent, const uint32_t& result);
// Sets RESULT to ANSWER and ends SHEET's loop; noErr, for a command handler
// to answer with.
PPx::OSStatus EndSheetModal(PPx::SheetWindow& sheet, uint32_t& result, uint32_t answer);
