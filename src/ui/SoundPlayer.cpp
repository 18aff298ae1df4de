#include "ui/SoundPlayer.h"

#include <QFile>
#include <QSoundEffect>
#include <QUrl>
#include <map>
#include <memory>

#include "ui/Resources.h"

namespace torvane {

void PlayWaveResource(int soundId) {
    // One effect per sound, loaded once and kept for the run.
    static std::map<int, std::unique_ptr<QSoundEffect>> effects;
    const QString path = SoundResourcePath(soundId);
    if (path.isEmpty() || !QFile::exists(path)) return;
    auto& effect = effects[soundId];
    if (!effect) {
        effect = std::make_unique<QSoundEffect>();
        effect->setSource(SoundResourceUrl(soundId));
    }
    effect->play();
}

}  // namespace torvane
