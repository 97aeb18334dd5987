#include "platform/media/Sound.h"

#include <QAudioOutput>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>

namespace PPx {

namespace {

// How long a file may take to tell whether it holds sound.
constexpr int kProbeMilliseconds = 5000;
constexpr int kAudioGraceMilliseconds = 300;

bool IsReadableFile(const std::string& path) {
    QFileInfo info(QString::fromStdString(path));
    return !path.empty() && info.isFile() && info.isReadable();
}

class QtSoundMovie : public SoundMovie {
public:
    explicit QtSoundMovie(const std::string& path) {
        mPlayer.setAudioOutput(&mOutput);
        QObject::connect(&mPlayer, &QMediaPlayer::errorOccurred, &mPlayer,
                         [this](QMediaPlayer::Error, const QString&) { mFailed = true; });
        mPlayer.setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
    }
    ~QtSoundMovie() override { mPlayer.stop(); }

    void Start() override {
        mPlayer.setPosition(0);
        mPlayer.play();
        mStarted = true;
    }
    void Stop() override { mPlayer.stop(); }
    bool IsDone() const override {
        if (mFailed || mPlayer.error() != QMediaPlayer::NoError)
            return true;
        QMediaPlayer::MediaStatus status = mPlayer.mediaStatus();
        if (status == QMediaPlayer::EndOfMedia || status == QMediaPlayer::InvalidMedia)
            return true;
        return mStarted && mPlayer.playbackState() == QMediaPlayer::StoppedState &&
               status != QMediaPlayer::LoadingMedia;
    }
    int64_t PlayedMilliseconds() const override { return mPlayer.position(); }

private:
    QMediaPlayer mPlayer;
    QAudioOutput mOutput;
    bool mStarted = false;
    bool mFailed = false;
};

class QtSoundPlayer : public SoundPlayer {
public:
    std::unique_ptr<SoundMovie> Open(const std::string& path, OSStatus& status) override {
        if (!IsReadableFile(path)) {
            status = fnfErr;
            return nullptr;
        }
        status = noErr;
        return std::make_unique<QtSoundMovie>(path);
    }

    bool CanPlay(const std::string& path) override {
        if (!IsReadableFile(path))
            return false;
        QMediaPlayer probe;
        QEventLoop loop;
        bool answered = false;
        bool playable = false;
        bool waiting = false;
        auto settle = [&] {
            if (answered)
                return;
            switch (probe.mediaStatus()) {
            case QMediaPlayer::LoadedMedia:
            case QMediaPlayer::BufferedMedia:
            case QMediaPlayer::BufferingMedia:
                // A picture opens too; only sound counts. The news of the
                // sound may come just after the file has loaded.
                if (!probe.hasAudio()) {
                    if (!waiting) {
                        waiting = true;
                        QTimer::singleShot(kAudioGraceMilliseconds, &loop, [&] {
                            answered = true;
                            loop.quit();
                        });
                    }
                    return;
                }
                playable = true;
                answered = true;
                break;
            case QMediaPlayer::InvalidMedia:
                answered = true;
                break;
            default:
                return;
            }
            loop.quit();
        };
        QObject::connect(&probe, &QMediaPlayer::mediaStatusChanged, &loop, settle);
        QObject::connect(&probe, &QMediaPlayer::hasAudioChanged, &loop, settle);
        QObject::connect(&probe, &QMediaPlayer::errorOccurred, &loop,
                         [&](QMediaPlayer::Error, const QString&) {
                             answered = true;
                             playable = false;
                             loop.quit();
                         });
        QTimer::singleShot(kProbeMilliseconds, &loop, [&] { loop.quit(); });
        probe.setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
        settle();
        if (!answered)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        return answered && playable;
    }
};

} // namespace

std::shared_ptr<SoundPlayer> SystemSoundPlayer() {
    static std::shared_ptr<SoundPlayer> player = std::make_shared<QtSoundPlayer>();
    return player;
}

} // namespace PPx
