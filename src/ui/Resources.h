#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QUrl>

// The program's pictures and sounds, compiled in and keyed by their resource ids.
namespace torvane {

// Icons (":/icons/<id>.png"); a null icon when the id has none.
QIcon ResourceIcon(int id);
// Bitmaps (":/bitmaps/<id>.png"); a null pixmap when the id has none.
QPixmap ResourceBitmap(int id);
// Sounds: the resource path (":/sounds/<id>.wav") and the URL that QSoundEffect takes
// ("qrc:/sounds/<id>.wav"); both empty when the id has none.
QString SoundResourcePath(int id);
QUrl SoundResourceUrl(int id);

}  // namespace torvane
