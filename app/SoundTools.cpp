#include "app/SoundTools.h"

#include "platform/core/EventLoop.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

const char* const kSystemSoundsFolder = "/usr/share/sounds/freedesktop/stereo";

namespace {

constexpr double kServiceSeconds = 0.25;

const char* const kInvalidSoundMessage = "Invalid Sound File";
const char* const kInvalidSoundExplanation =
    "Please select a sound file that can be played by Quicktime";

} // namespace

SoundTools::SoundTools(std::shared_ptr<PPx::SoundPlayer> player, std::string soundsFolder)
    : mPlayer(player ? std::move(player) : PPx::SystemSoundPlayer()),
      mSoundsFolder(soundsFolder.empty() ? std::string(kSystemSoundsFolder)
                                         : std::move(soundsFolder)) {}

SoundTools::~SoundTools() {
    // Nothing keeps playing, and no file stays open, once the owner is gone.
    StopSound();
}

void SoundTools::StopSound() {
    Remove();
    if (mMovie) {
        mMovie->Stop();
        mMovie.reset();
    }
}

PPx::OSStatus SoundTools::PlaySound(const std::string& path, int limit) {
    StopSound();
    PPx::OSStatus status = PPx::noErr;
    std::unique_ptr<PPx::SoundMovie> movie = mPlayer->Open(path, status);
    if (!movie)
        return status != PPx::noErr ? status : PPx::noMovieFound;
    mMovie = std::move(movie);
    mMaxSeconds = limit;
    mMovie->Start();
    Install(0, kServiceSeconds);
    return PPx::noErr;
}

void SoundTools::DoTimer() {
    if (!mMovie) {
        Remove();
        return;
    }
    mMovie->Task();
    bool keepPlaying = !mMovie->IsDone();
    if (keepPlaying && mMaxSeconds >= 1)
        keepPlaying = mMovie->PlayedMilliseconds() / 1000 <= mMaxSeconds;
    if (!keepPlaying)
        StopSound();
}

PPx::OSStatus SoundTools::GetSoundsList(std::vector<std::string>& out) {
    out.clear();
    DIR* dir = ::opendir(mSoundsFolder.c_str());
    if (!dir)
        return PPx::fnfErr;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = mSoundsFolder + "/" + name;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode))
            continue;
        out.push_back(path);
    }
    ::closedir(dir);
    // The file system's order means nothing to a user reading a menu.
    std::sort(out.begin(), out.end());
    return PPx::noErr;
}

bool SoundTools::PickSoundFile(PPx::Window* parent, std::string& path) {
    PPx::ChooserOptions options;
    options.kind = PPx::ChooserKind::File;
    options.title = "Please select a sound file";
    options.multiple = false;
    options.showHidden = true;
    if (!path.empty()) {
        std::string folder = path.substr(0, path.find_last_of('/'));
        struct stat info {};
        if (!folder.empty() && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            options.startFolder = folder;
    }

    mPicked = false;
    mPickedPath.clear();
    PPx::ModalLoop loop;
    bool answered = false;
    // The answer may come after this object is gone (the window closed
    // under the chooser); the shared flag tells.
    auto alive = std::make_shared<SoundTools*>(this);
    std::weak_ptr<SoundTools*> weak = alive;
    PPx::RunChooser(parent, options, [weak, &loop, &answered](const PPx::ChooserReply& reply) {
        auto self = weak.lock();
        if (!self)
            return;
        SoundTools* tools = *self;
        tools->mPicked = reply.valid && !reply.paths.empty() && !reply.paths.front().empty();
        if (tools->mPicked)
            tools->mPickedPath = reply.paths.front();
        answered = true;
        loop.Quit();
    });
    if (!answered) {
        std::unique_ptr<PPx::Window::Busy> busy;
        if (parent)
            busy = std::make_unique<PPx::Window::Busy>(parent);
        loop.Run();
    }
    alive.reset();
    // An unplayable pick leaves the caller's path as it was.
    if (!mPicked || !VerifySoundFile(mPickedPath))
        return false;
    path = mPickedPath;
    return true;
}

bool SoundTools::VerifySoundFile(const std::string& path) {
    struct stat info {};
    bool usable = !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode) &&
                  mPlayer->CanPlay(path);
    if (!usable)
        PPx::StandardAlert(PPx::kAlertStopAlert, kInvalidSoundMessage, kInvalidSoundExplanation);
    return usable;
}
