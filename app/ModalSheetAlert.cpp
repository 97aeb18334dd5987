#include "app/ModalSheetAlert.h"

#include "platform/ui/Dialogs.h"

PPx::OSStatus ModalSheetAlert::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'ok  ':
        mResult = mCodes[0];
        return PPx::noErr;
    case 'not!':
        mResult = mCodes[1];
        return PPx::noErr;
    case 'othr':
        mResult = mCodes[2];
        return PPx::noErr;
    default:
        return PPx::eventNotHandledErr;
    }
}

PPx::OSStatus ModalSheetAlert::DoModal(PPx::Window* parent, const std::string& message,
                                       uint32_t& result, uint32_t flags,
                                       const std::string& explanation) {
    PPx::AlertType type = PPx::kAlertNoteAlert;
    if (flags & 0x1)
        type = PPx::kAlertStopAlert;
    else if (flags & 0x4)
        type = PPx::kAlertCautionAlert;
    else if (flags & 0x8)
        type = PPx::kAlertPlainAlert;

    PPx::AlertButtons buttons;
    switch (flags & 0xF0) {
    case 0x10:
        buttons.text[0] = "OK";
        mCodes[0] = 'ok  ';
        buttons.closeCode = 'ok  ';
        break;
    case 0x30:
        buttons.text[0] = "OK";
        buttons.text[1] = "Cancel";
        mCodes[0] = 'ok  ';
        mCodes[1] = 'not!';
        if (flags & 0x200)
            buttons.defaultButton = 2;
        buttons.closeCode = 'not!';
        break;
    case 0xC0:
        buttons.text[0] = "Yes";
        buttons.text[1] = "No";
        mCodes[0] = 'Yes ';
        mCodes[1] = 'No  ';
        if (flags & 0x400)
            buttons.defaultButton = 2;
        buttons.closeCode = 'No  ';
        break;
    case 0xE0:
        buttons.text[0] = "Yes";
        buttons.text[1] = "No";
        buttons.text[2] = "Cancel";
        mCodes[0] = 'Yes ';
        mCodes[1] = 'No  ';
        mCodes[2] = 'not!';
        if (flags & 0x200)
            buttons.defaultButton = 3;
        else if (flags & 0x400)
            buttons.defaultButton = 2;
        if (flags & 0x1000)
            buttons.cancelButton = 3;
        buttons.closeCode = 'not!';
        break;
    default:
        return PPx::paramErr;
    }
    // The buttons' toolbox commands, mapped to this alert's codes.
    const uint32_t commands[3] = {'ok  ', 'not!', 'othr'};
    for (int i = 0; i < 3; ++i)
        buttons.code[i] = commands[i];
    uint32_t closeCommand = 'ok  ';
    for (int i = 0; i < 3; ++i)
        if (mCodes[i] == buttons.closeCode)
            closeCommand = commands[i];
    buttons.closeCode = closeCommand;

    mResult = 0;
    uint32_t pressed = 0;
    PPx::OSStatus status = PPx::RunAlert(parent, type, message, explanation, buttons, pressed);
    if (status != PPx::noErr)
        return status;
    DoCommandProcess(pressed);
    result = mResult;
    return PPx::noErr;
}
