#include "ui/Resources.h"

#include <QFile>
#include <mutex>

// The resources live in a static library: nothing would pull their registration into the
// program unless something refers to it.
static void RegisterTorvaneResources() {
    Q_INIT_RESOURCE(resources);
}

namespace torvane {
namespace {

QString ExistingResource(const char* folder, int id, const char* extension) {
    static std::once_flag registered;
    std::call_once(registered, RegisterTorvaneResources);
    const QString path = QStringLiteral(":/%1/%2.%3").arg(folder).arg(id).arg(extension);
    return QFile::exists(path) ? path : QString();
}

}  // namespace

QIcon ResourceIcon(int id) {
    const QString path = ExistingResource("icons", id, "png");
    return path.isEmpty() ? QIcon() : QIcon(path);
}

QPixmap ResourceBitmap(int id) {
    const QString path = ExistingResource("bitmaps", id, "png");
    return path.isEmpty() ? QPixmap() : QPixmap(path);
}

QString SoundResourcePath(int id) {
    return ExistingResource("sounds", id, "wav");
}

QUrl SoundResourceUrl(int id) {
    const QString path = SoundResourcePath(id);
    return path.isEmpty() ? QUrl() : QUrl(QStringLiteral("qrc") + path);
}

}  // namespace torvane
