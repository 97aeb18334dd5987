#pragma once
// The connection fields every bookmark form shares (the editing sheet, the
// quick-connect window, the synchronisation sheet): host, port, user name,
// password, account, a folder, passive and SFTP. Binds them, reads them into
// a bookmark with the host and port checks, fills them from one, and keeps
// the SFTP rule.
#include "app/NibWindow.h"
#include "engine/ConnectionRecords.h"

#include <string>

// What the form holds, before it goes into a bookmark record.
struct BookmarkFormData {
    std::string host;
    int32_t port = 0;
    std::string username;
    std::string password;
    std::string account;
    std::string dir;
    bool passive = false;
    bool secure = false;
};

// Copies the connection fields between the form's data and a bookmark (the
// folder field is a synchronisation bookmark's remote folder); the name stays.
void ApplyFormData(const BookmarkFormData& data, sBookMarkData& bookmark);
void ApplyFormData(const BookmarkFormData& data, sSyncBookMarkData& bookmark);
BookmarkFormData FormDataOf(const sBookMarkData& bookmark);
BookmarkFormData FormDataOf(const sSyncBookMarkData& bookmark);

class BookmarkForm {
public:
    // Binds 'HOST', 'PORT', 'UNAM', 'PASS', 'ACCT', 'PASV', 'SECR' and the
    // folder field DIRSIGNATURE ('DIRE', or 'RDIR' for a remote folder) of
    // WINDOW; with ACCOUNTLABEL also the account label 'ACTT', dimmed with
    // the account field. Throws "GetControlByID failed" like every binding.
    void Bind(PPx::SysWindow window, uint32_t dirSignature, bool accountLabel);

    // Reads the fields. False with the message for the user and the field at
    // fault when the host is empty or blank, is a bad URL, or the port is
    // empty or no port number (trailing letters included).
    bool Read(BookmarkFormData& out, std::string& error, PPx::View*& field) const;
    // Fills the fields; the account and passive boxes follow the SFTP box
    // at once, the port stays as stored.
    void Fill(const BookmarkFormData& data);
    // The SFTP box was clicked: 21 and 22 swap, the FTP-only fields follow.
    void OnSecureChange();
    // Enables the account field, its label and the passive box exactly when
    // SFTP is off.
    void ApplySecureState();

    NibEditUnicodeText* Host() const { return mHost; }
    NibEditUnicodeText* Port() const { return mPort; }
    NibEditUnicodeText* Account() const { return mAccount; }
    NibCheckBox* Passive() const { return mPassive; }
    NibCheckBox* Secure() const { return mSecure; }

private:
    NibEditUnicodeText* mHost = nullptr;
    NibEditUnicodeText* mPort = nullptr;
    NibEditUnicodeText* mUser = nullptr;
    NibEditUnicodeText* mPassword = nullptr;
    NibEditUnicodeText* mAccount = nullptr;
    NibEditUnicodeText* mDir = nullptr;
    NibStaticText* mAccountLabel = nullptr;
    NibCheckBox* mPassive = nullptr;
    NibCheckBox* mSecure = nullptr;
};

// The SFTP rule both bookmark forms keep: a port of 22 becomes 21 when SFTP
// goes off, 21 becomes 22 when it goes on; other texts stay.
std::string PortForSecureChange(const std::string& portText, bool secure);

// A host text of nothing but blanks counts as empty.
bool HostTextIsBlank(const std::string& host);

extern const char* const kCompleteHostMessage;
extern const char* const kCompletePortMessage;
