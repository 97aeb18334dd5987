#include "app/BookmarkForm.h"

#include "app/BookmarkStore.h"

#include <cctype>
#include <cstdlib>

const char* const kCompleteHostMessage = "Please complete the Host field.";
const char* const kCompletePortMessage = "Please complete the Port field.";

std::string PortForSecureChange(const std::string& portText, bool secure) {
    if (portText.empty())
        return portText;
    long port = std::strtol(portText.c_str(), nullptr, 10);
    if (!secure && port == 22)
        return "21";
    if (secure && port == 21)
        return "22";
    return portText;
}

bool HostTextIsBlank(const std::string& host) {
    for (unsigned char c : host)
        if (!std::isspace(c))
            return false;
    return true;
}

namespace {

// Both kinds of bookmark hold the same connection fields; DIR is the folder
// the form's folder field stands for.
template <class Record>
void CopyFormData(const BookmarkFormData& data, Record& bookmark, std::string Record::*dir) {
    bookmark.host = data.host;
    bookmark.port = data.port;
    bookmark.username = data.username;
    bookmark.password = data.password;
    bookmark.account = data.account;
    bookmark.*dir = data.dir;
    bookmark.passive = data.passive;
    bookmark.secure = data.secure;
}

template <class Record>
BookmarkFormData FormDataFrom(const Record& bookmark, std::string Record::*dir) {
    BookmarkFormData data;
    data.host = bookmark.host;
    data.port = bookmark.port;
    data.username = bookmark.username;
    data.password = bookmark.password;
    data.account = bookmark.account;
    data.dir = bookmark.*dir;
    data.passive = bookmark.passive;
    data.secure = bookmark.secure;
    return data;
}

} // namespace

void ApplyFormData(const BookmarkFormData& data, sBookMarkData& bookmark) {
    CopyFormData(data, bookmark, &sBookMarkData::dir);
}

void ApplyFormData(const BookmarkFormData& data, sSyncBookMarkData& bookmark) {
    CopyFormData(data, bookmark, &sSyncBookMarkData::remoteDir);
}

BookmarkFormData FormDataOf(const sBookMarkData& bookmark) {
    return FormDataFrom(bookmark, &sBookMarkData::dir);
}

BookmarkFormData FormDataOf(const sSyncBookMarkData& bookmark) {
    return FormDataFrom(bookmark, &sSyncBookMarkData::remoteDir);
}

void BookmarkForm::Bind(PPx::SysWindow window, uint32_t dirSignature, bool accountLabel) {
    mHost = NibEditUnicodeText::CreatePPxView(window, 'HOST');
    mPort = NibEditUnicodeText::CreatePPxView(window, 'PORT');
    mUser = NibEditUnicodeText::CreatePPxView(window, 'UNAM');
    mPassword = NibEditUnicodeText::CreatePPxView(window, 'PASS');
    mDir = NibEditUnicodeText::CreatePPxView(window, dirSignature);
    mAccount = NibEditUnicodeText::CreatePPxView(window, 'ACCT');
    if (accountLabel)
        mAccountLabel = NibStaticText::CreatePPxView(window, 'ACTT');
    mPassive = NibCheckBox::CreatePPxView(window, 'PASV');
    mSecure = NibCheckBox::CreatePPxView(window, 'SECR');
}

bool BookmarkForm::Read(BookmarkFormData& out, std::string& error, PPx::View*& field) const {
    const std::string host = mHost->GetText();
    const std::string portText = mPort->GetText();
    int32_t port = 0;
    field = mHost;
    if (HostTextIsBlank(host)) {
        error = kCompleteHostMessage;
        return false;
    }
    if (!CheckHostText(host, error))
        return false;
    field = mPort;
    if (portText.empty()) {
        error = kCompletePortMessage;
        return false;
    }
    if (!ReadPortText(portText, port)) {
        error = kBadPortMessage;
        return false;
    }
    field = nullptr;
    out.host = host;
    out.port = port;
    out.username = mUser->GetText();
    out.password = mPassword->GetText();
    out.account = mAccount->GetText();
    out.dir = mDir->GetText();
    out.passive = mPassive->GetValue() != 0;
    out.secure = mSecure->GetValue() != 0;
    return true;
}

void BookmarkForm::Fill(const BookmarkFormData& data) {
    mHost->SetText(data.host);
    mPort->SetText(std::to_string(data.port));
    mUser->SetText(data.username);
    mPassword->SetText(data.password);
    mDir->SetText(data.dir);
    mAccount->SetText(data.account);
    mPassive->SetValue(data.passive ? 1 : 0);
    mSecure->SetValue(data.secure ? 1 : 0);
    // An SFTP bookmark shows its FTP-only fields dimmed, as after a click.
    ApplySecureState();
}

void BookmarkForm::OnSecureChange() {
    const std::string port = mPort->GetText();
    const std::string changed = PortForSecureChange(port, mSecure->GetValue() != 0);
    if (changed != port)
        mPort->SetText(changed);
    ApplySecureState();
}

void BookmarkForm::ApplySecureState() {
    const bool ftp = mSecure->GetValue() == 0;
    mAccount->SetEnabled(ftp);
    if (mAccountLabel)
        mAccountLabel->SetEnabled(ftp);
    mPassive->SetEnabled(ftp);
}
