#pragma once
// A worker over one protocol engine: what the FTP and the SFTP worker do the
// same way with their engines (the one-step requests, listing, links, deleting,
// dates, the download and upload loops, progress, abort), written once. Each
// kind gives what differs: logging in, the server type, file lists, and how
// one file is fetched or sent.
//
// Life: made on the main thread, fully set up before its thread starts; ends
// by itself after Quit (it deletes itself on its own thread). Nothing may
// touch it after Quit.
#include "engine/FTPEngine.h"
#include "engine/ProtocolBackend.h"
#include "engine/UploadPart.h"
#include "engine/WorkerSlot.h"

#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

template <typename Engine> class EngineWorker : public WorkerSlot, private TransferProgress {
public:
    // Workers of this kind that have not yet ended (all connections of the process).
    static size_t LiveWorkers() { return Live().Count(); }
    // Waits until every worker of this kind has ended, at most `timeout`;
    // true when none is left.
    static bool WaitForWorkers(std::chrono::milliseconds timeout) {
        return Live().WaitForNone(timeout);
    }

    bool InitInstance(int) override { return true; }
    void ExitInstance() override {
        delete this;
        Live().Ended();
    }

    // Control (main thread).
    void AbortTransfer() override {
        mAbort.store(true);
        mEngine.AbortTransfer();
    }
    void Quit() override {
        // A running transfer stops at once; the worker itself re-raises the
        // engine's flag should a transfer start after this.
        mEngine.AbortTransfer();
        SignalQuit();
    }
    // Both engines answer this safely from any thread, without the worker's lock.
    bool IsConnected() override { return mEngine.IsConnected(); }

protected:
    static constexpr const char* kConnected = "Connected";
    static constexpr const char* kGettingDirectory = "Getting current directory...";
    static constexpr const char* kChangingDirectory = "Changing Directory...";

    explicit EngineWorker(uint32_t modTimeRequest) : WorkerSlot(modTimeRequest) {
        mEngine.SetParent(this);
        Live().Started();
    }

    // Starts WORKER's thread; false (and WORKER gone) when it cannot start.
    static bool Launch(EngineWorker* worker, int arg) {
        if (Start(worker, arg))
            return true;
        Live().Ended(); // Start deleted the object
        return false;
    }
    // Lets go of a worker whose thread never started.
    static void Discard(EngineWorker* worker) {
        delete worker;
        Live().Ended();
    }

    // Lists PATH (none: the current folder) the way this kind lists.
    virtual bool ListFolder(const char* path, std::string& listing) = 0;
    // Fetches ITEM into INFO's destination. False with REFUSAL set when its
    // name may not reach the local disk; false without it when the engine failed.
    virtual bool FetchFile(const sFileInfo& item, const sDownloadInfo& info,
                           std::string& refusal) = 0;
    // Sends ITEM from its local folder to REMOTENAME. False with REFUSAL set
    // when the local side cannot be used; false without it when the engine failed.
    virtual bool SendFile(const sFileInfo& item, const sUploadInfo& info,
                          const std::string& remoteName, std::string& refusal) = 0;
    // What a download says when its destination folder is not there.
    virtual const char* NoDestinationText() const = 0;

    RequestResult EngineError() { return RequestResult::Failed(mEngine.GetLastError()); }
    // A folder that could not be entered: servers seldom say which, so the
    // text names it. A leading reply code stays in front, where windows look
    // for it.
    RequestResult FolderError(const std::string& folder) {
        if (!mEngine.IsConnected())
            return EngineError(); // not the folder's fault
        return RequestResult::Failed(
            Explained(mEngine.GetLastError(), "Could not open the folder \"" + folder + "\":"));
    }
    // `explanation` on a line of its own before the engine's TEXT; a leading
    // reply code stays in front, where windows look for it.
    static std::string Explained(std::string text, const std::string& explanation) {
        const bool coded = text.size() > 4 && std::isdigit(static_cast<unsigned char>(text[0])) &&
                           std::isdigit(static_cast<unsigned char>(text[1])) &&
                           std::isdigit(static_cast<unsigned char>(text[2])) &&
                           (text[3] == ' ' || text[3] == '-');
        text.insert(coded ? 4 : 0, explanation + "\n");
        return text;
    }

    // The end of a login: into the bookmark's start folder, when it names one.
    RequestResult EnterStartFolder(const sBookMarkData& bookmark) {
        if (!bookmark.dir.empty()) {
            SetStatus(kChangingDirectory);
            if (!mEngine.ChangeDirAsTyped(bookmark.dir))
                return FolderError(bookmark.dir);
        }
        SetStatus(kConnected);
        return RequestResult::Done();
    }

    RequestResult OnGetDirList(const sWorkerEvent&) override {
        SetStatus(kGettingDirectory);
        std::string path;
        if (!mEngine.SendGetWorkingDir(path))
            return EngineError();
        {
            Locker hold(mLock);
            mDirListPath = path;
        }
        SetStatus("Getting directory listing...");
        std::string listing;
        if (!ListFolder(nullptr, listing))
            return EngineError();
        {
            Locker hold(mLock);
            mDirListText = std::move(listing);
        }
        SetStatus(kConnected);
        return RequestResult::Done();
    }

    RequestResult OnChangeDirTo(const sWorkerEvent& request) override {
        SetStatus(kChangingDirectory);
        if (!mEngine.ChangeDir(request.path))
            return FolderError(request.path);
        SetStatus(kConnected);
        return RequestResult::Done();
    }

    RequestResult OnResolveLinks(const sWorkerEvent& request) override {
        {
            Locker hold(mLock);
            mLinkFolders.clear();
        }
        SetStatus(kGettingDirectory);
        std::string base;
        if (!mEngine.SendGetWorkingDir(base))
            return EngineError();
        if (base.empty() || base.back() != '/')
            base += '/';
        {
            Locker hold(mLock);
            mDirListPath = base;
        }
        SetStatus("Resolving Links...");
        std::vector<std::string> folders;
        for (const std::string& name : request.args) {
            if (mEngine.ChangeDir(base + name))
                folders.push_back(name);
            else if (mLinksEndWithConnection && !mEngine.IsConnected())
                return EngineError();
        }
        if (!mEngine.ChangeDir(base))
            return EngineError();
        {
            Locker hold(mLock);
            mLinkFolders = std::move(folders);
        }
        SetStatus(kConnected);
        return RequestResult::Done();
    }

    RequestResult OnRename(const sWorkerEvent& request) override {
        if (request.args.size() < 2)
            return RequestResult::Failed("Invalid parameters passed to rename");
        return OneStep("Renaming...",
                       [&] { return mEngine.SendRename(request.args[0], request.args[1]); });
    }

    RequestResult OnCreateFolder(const sWorkerEvent& request) override {
        return OneStep("Creating Folder...",
                       [&] { return mEngine.SendCreateFolder(request.path); });
    }

    RequestResult OnSetPerms(const sWorkerEvent& request) override {
        if (request.args.size() < 2)
            return RequestResult::Failed("Invalid parameters passed to set permissions");
        return OneStep("Setting Permissions...",
                       [&] { return mEngine.SetPerms(request.args[0], request.args[1]); });
    }

    RequestResult OnDownload(const sWorkerEvent& request) override {
        const sDownloadInfo& info = request.download;
        mAbort.store(false);
        SetStatus("Downloading...");
        size_t fileCount = 0;
        for (const sFileInfo& item : info.files)
            if (!item.isFolder)
                ++fileCount;
        struct stat folder {};
        if (fileCount > 0 &&
            (::stat(info.destination.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)))
            return RequestResult::Failed(NoDestinationText());

        for (const sFileInfo& item : info.files) {
            if (Stopping())
                break;
            if (item.isFolder)
                continue; // the front end made the local folders before asking
            mCurrentFile = item;
            std::string failure;
            if (FetchFile(item, info, failure))
                continue;
            if (failure.empty()) {
                if (Stopping())
                    break; // the user's abort, or the connection going away
                failure = mEngine.GetLastError();
                // Without its connection no further file can come: one error
                // ends the request instead of one question per file.
                if (!mEngine.IsConnected())
                    return RequestResult::Failed(failure);
            }
            if (fileCount < 2)
                return RequestResult::Failed(failure);
            if (!SetErrorAndAsk(failure))
                break;
        }
        SetStatus(kConnected);
        return RequestResult::Done();
    }

    RequestResult OnUpload(const sWorkerEvent& request) override {
        const sUploadInfo& info = request.upload;
        mAbort.store(false);
        SetStatus(kGettingDirectory);
        std::string base;
        if (!mEngine.SendGetWorkingDir(base))
            return EngineError();
        SetStatus("Creating folders...");
        for (const sFileInfo& item : info.files) {
            if (Stopping())
                break;
            if (!item.isFolder)
                continue;
            const bool exists = mEngine.ChangeDir(item.name);
            if (!mEngine.ChangeDir(base))
                return EngineError();
            if (!exists && !mEngine.SendCreateFolder(item.name))
                return EngineError();
        }
        if (!Stopping()) {
            SetStatus("Uploading...");
            for (const sFileInfo& item : info.files) {
                if (Stopping())
                    break;
                if (item.isFolder)
                    continue;
                if (!info.replaceWhole) {
                    std::string refusal;
                    if (SendFile(item, info, item.name, refusal))
                        continue;
                    if (!refusal.empty())
                        return RequestResult::Failed(refusal);
                    if (Stopping())
                        break;
                    return EngineError();
                }
                std::string failure;
                if (!ReplaceWhole(item, info, failure))
                    return RequestResult::Failed(failure);
                if (Stopping())
                    break;
            }
        }
        SetStatus(kConnected);
        return RequestResult::Done();
    }

    RequestResult OnDelete(const sWorkerEvent& request) override {
        const std::vector<sFileInfo>& files = request.remove.files;
        SetStatus("Deleting...");
        for (const sFileInfo& item : files) {
            if (item.isFolder)
                continue;
            SetDeleteStatus(item.name);
            if (!mEngine.DeleteFile(item.name))
                return EngineError();
        }
        for (auto it = files.rbegin(); it != files.rend(); ++it) {
            if (!it->isFolder)
                continue;
            SetDeleteStatus(it->name);
            if (!mEngine.DeleteFolder(it->name))
                return EngineError();
        }
        SetStatus(kConnected);
        return RequestResult::Done();
    }

    RequestResult OnGetModTime(const sWorkerEvent& request) override {
        {
            Locker hold(mLock);
            mModTimeResult.clear();
        }
        SetStatus("Getting date information...");
        std::vector<sFileInfo> result;
        result.reserve(request.modTimeList.size());
        // Asked in groups: a round trip per file would dominate the time.
        std::vector<std::string> names;
        names.reserve(request.modTimeList.size());
        for (const sFileInfo& item : request.modTimeList)
            names.push_back(item.name);
        std::vector<DateTimeRec> dates;
        if (!mEngine.GetModTimes(names, dates))
            return EngineError();
        for (size_t i = 0; i < dates.size(); ++i) {
            result.push_back(request.modTimeList[i]);
            result.back().modDate = dates[i];
        }
        {
            Locker hold(mLock);
            mModTimeResult = std::move(result);
        }
        SetStatus(kConnected);
        return RequestResult::Done();
    }

    Engine mEngine;
    sFileInfo mCurrentFile; // worker thread only: the file the progress messages name
    // The SFTP tool cannot come back once gone: a lost connection ends the
    // link walk there instead of failing every name.
    bool mLinksEndWithConnection = false;
    // The FTP engine may clear its flag between buffers; the SFTP engine keeps
    // it for the whole transfer, and raising it again would interrupt the tool
    // once per progress line.
    bool mProgressReraisesAbort = true;
    // Worker thread only: whether the item being replaced was told as started.
    bool mItemStarted = false;

private:
    static LiveWorkerCount& Live() {
        // Kept for the life of the process: a worker may end while the program exits.
        static LiveWorkerCount* live = new LiveWorkerCount;
        return *live;
    }

    // Sends ITEM beside its target and renames it into place once complete;
    // what a cut or failed send or rename left is removed while the
    // connection lasts. An abort leaves the target as it was. False with
    // FAILURE set when it failed.
    bool ReplaceWhole(const sFileInfo& item, const sUploadInfo& info, std::string& failure) {
        mItemStarted = false;
        // A rename would replace what a write may not change.
        if (PermissionsDenyOwnerWrite(item.permissions.view()))
            return Refuse(item,
                          "Could not replace \"" + item.name.str() +
                              "\": the remote file is read-only.",
                          failure);
        const std::string part = UploadPartName(item.name.view());
        sFileInfo whole = item;
        whole.resumeOffset = std::string_view(); // the part is written from its start
        std::string refusal;
        const bool sent = SendFile(whole, info, part, refusal);
        if (!refusal.empty())
            return Refuse(item, refusal, failure);
        if (!sent || Stopping()) {
            if (!sent)
                failure = mEngine.GetLastError();
            if (mEngine.IsConnected()) {
                // The server's words alone name neither the file nor the
                // folder, which is what refused (a file that may be written
                // still cannot be replaced where nothing new may be made).
                if (!sent && !Stopping())
                    failure = Explained(
                        failure, item.permissions.view().empty()
                                     ? "Could not upload \"" + item.name.str() +
                                           "\": it could not be written in the remote folder."
                                     : "Could not replace \"" + item.name.str() +
                                           "\": its new copy could not be written beside it in "
                                           "the remote folder.");
                mEngine.DeleteFile(part);
            }
            return Stopping();
        }
        // The target's permissions go with it, where the server can set them.
        std::string mode;
        if (PermissionsToMode(item.permissions.view(), mode))
            mEngine.SetPerms(part, mode);
        if (!mEngine.ReplaceFile(part, item.name)) {
            failure = mEngine.GetLastError();
            if (mEngine.IsConnected())
                mEngine.DeleteFile(part);
            return false;
        }
        const std::string stem = UploadPartStem(item.name.view());
        for (const std::string& leftover : info.leftovers)
            if (UploadPartOwner(leftover) == stem && !mEngine.DeleteFile(leftover) &&
                !mEngine.IsConnected())
                break;
        return true;
    }

    // The item fails with TEXT before anything of it was sent. The front end
    // counts a failure against the last item it saw start, so this one is
    // told as started (and ended) first.
    bool Refuse(const sFileInfo& item, const std::string& text, std::string& failure) {
        if (!mItemStarted) {
            mCurrentFile = item;
            StartTransfer();
            EndTransfer();
        }
        failure = text;
        return false;
    }

    // The status text, one engine call, then "Connected"; or the engine's error.
    template <typename Call> RequestResult OneStep(const char* status, Call call) {
        SetStatus(status);
        if (!call())
            return EngineError();
        SetStatus(kConnected);
        return RequestResult::Done();
    }

    // Progress from the engine (worker thread).
    void StartTransfer() override {
        // The engine clears its abort flag when a transfer begins; an abort or
        // a quit that came just before must still stop this one.
        if (Stopping())
            mEngine.AbortTransfer();
        mItemStarted = true;
        PostMessage(kMsgStartTransfer, mCurrentFile.name, static_cast<long long>(mCurrentFile.size),
                    static_cast<long long>(ResumeOffset(mCurrentFile)));
    }
    void UpdateProgress(unsigned long long bytes) override {
        if (mProgressReraisesAbort && Stopping())
            mEngine.AbortTransfer();
        PostMessage(kMsgUpdateTransfer, mCurrentFile.name, static_cast<long long>(bytes), 0);
    }
    void EndTransfer() override {
        PostMessage(kMsgEndTransfer, mCurrentFile.name, static_cast<long long>(mCurrentFile.size),
                    0);
    }
};
