#include "ui/SoundPlayer.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>
#include <map>

#include "ui/Resources.h"

namespace torvane {

void PlayWaveResource(int soundId) {
    // One effect per sound, loaded once and kept for the run. The effects are children of the
    // application and go with it: destroyed with the other statics at exit, after Qt
    // Multimedia's own sample cache, they would free what that cache had already freed.
    static std::map<int, QPointer<QSoundEffect>> effects;
    const QString path = SoundResourcePath(soundId);
    if (path.isEmpty() || !QFile::exists(path)) return;
    QPointer<QSoundEffect>& effect = effects[soundId];
    if (!effect) {
        effect = new QSoundEffect(QCoreApplication::instance());
        effect->setSource(SoundResourceUrl(soundId));
    }
    effect->play();
}

}  // namespace torvane
