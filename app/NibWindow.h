#pragma once
// The nib-bound window, sheet and control classes every window of the
// program is built from (the window layer provides them).
#include "platform/ui/DataBrowser.h"
#include "platform/ui/Views.h"
#include "platform/ui/Window.h"

using PPx::NibBevelButton;
using PPx::NibCheckBox;
using PPx::NibCheckBoxGroupBox;
using PPx::NibDataBrowserView;
using PPx::NibEditUnicodeText;
using PPx::NibPopupButton;
using PPx::NibProgressBar;
using PPx::NibPushButton;
using PPx::NibRadioGroup;
using PPx::NibSheetWindow;
using PPx::NibStaticText;
using PPx::NibTabView;
using PPx::NibTextView;
using PPx::NibWindow;
