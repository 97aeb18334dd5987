#pragma once
// What a backend needs of its worker thread (FTPThread, and the SFTP worker):
// the request slot, the control calls and the result getters. All of these
// are called on the main thread; the worker answers by posting the messages
// below to the receiver it was given.
#include "engine/ConnectionRecords.h"
#include "platform/core/Events.h"
#include "platform/core/FourCharCode.h"

#include <string>
#include <vector>

// Messages a worker posts (command events of class 'Pcmd' whose kind is the code).
constexpr PPx::FourCharCode kMsgConnect = 'conn';
constexpr PPx::FourCharCode kMsgDisconnect = 'dcon';
constexpr PPx::FourCharCode kMsgServerInfo = 'gsic';
constexpr PPx::FourCharCode kMsgDirList = 'gdlc';
constexpr PPx::FourCharCode kMsgChangeDir = 'cdtc';
constexpr PPx::FourCharCode kMsgResolveLinks = 'rslc';
constexpr PPx::FourCharCode kMsgRename = 'renc';
constexpr PPx::FourCharCode kMsgCreateFolder = 'cflc';
constexpr PPx::FourCharCode kMsgSetPerms = 'stpc';
constexpr PPx::FourCharCode kMsgFileList = 'cFLc';
constexpr PPx::FourCharCode kMsgDownload = 'dnlc';
constexpr PPx::FourCharCode kMsgDelete = 'delc';
constexpr PPx::FourCharCode kMsgUpload = 'uplc';
constexpr PPx::FourCharCode kMsgModTime = 'gmtc';
constexpr PPx::FourCharCode kMsgStatus = 'stat';
constexpr PPx::FourCharCode kMsgError = 'err ';
constexpr PPx::FourCharCode kMsgErrorAsk = 'erra';
constexpr PPx::FourCharCode kMsgDeleteStatus = 'dlst';
constexpr PPx::FourCharCode kMsgStartTransfer = 'strt';
constexpr PPx::FourCharCode kMsgUpdateTransfer = 'updt';
constexpr PPx::FourCharCode kMsgEndTransfer = 'endt';
// Posted to the application's event target once the preferences were saved;
// every open FTP backend applies the new time-out and keep-alive.
constexpr PPx::FourCharCode kMsgPreferencesChanged = 'prfU';

// Server-info result: bits 0-1 the server type, bit 2 resume supported.
constexpr int kServerInfoTypeMask = 3;
constexpr int kServerInfoResume = 4;

class WorkerInterface {
public:
    virtual ~WorkerInterface() = default;

    // Requests: written into the worker's one slot; the call returns at once.
    virtual void Connect(const sBookMarkData& bookmark) = 0;
    virtual void Disconnect() = 0;
    virtual void GetServerInfo() = 0;
    virtual void GetDirList() = 0;
    virtual void ChangeDirTo(const std::string& path) = 0;
    virtual void ResolveLinks(const std::vector<std::string>& names) = 0;
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    virtual void CreateFolder(const std::string& path) = 0;
    virtual void SetPerms(const std::string& path, const std::string& mode) = 0;
    virtual void CreateFileList(const std::string& path, int mode) = 0;
    virtual void Download(const sDownloadInfo& info) = 0;
    virtual void Delete(const sDeleteInfo& info) = 0;
    virtual void Upload(const sUploadInfo& info) = 0;
    virtual void GetModTime(const std::vector<sFileInfo>& files) = 0;

    // Control.
    virtual void AbortTransfer() = 0;
    // The worker finishes (an ask ends as "stop", a transfer is cut off) and
    // then ends by itself; nothing may touch it after this call.
    virtual void Quit() = 0;
    // Drops the worker's undelivered messages and sends later ones to
    // `receiver` (none: later ones are dropped).
    virtual void SetReceiver(const PPx::EventTargetRef& receiver) = 0;
    virtual void SetAnswer(bool goOn) = 0;
    // Listings show hidden items too, whatever the preferences say.
    virtual void SetListHidden(bool) {}
    virtual bool IsConnected() = 0;

    // Results, each a copy taken under the worker's lock.
    virtual std::string GetStatus() = 0;
    virtual std::string GetError() = 0;
    virtual std::string GetDeleteName() = 0;
    virtual int GetServerInfoResult() = 0;
    virtual void GetDirListResult(std::string& path, std::string& listing) = 0;
    virtual void GetResolveLinksResult(std::vector<std::string>& names) = 0;
    // Hands the list over: the worker's copy is empty afterwards.
    virtual void GetModTimeResult(std::vector<sFileInfo>& files) = 0;
};
