#include <gtest/gtest.h>

#include <QFile>
#include <QtEndian>

#include "ui/Resources.h"

namespace torvane {
namespace {

TEST(ResourcesTest, EveryPictureTheProgramUsesIsThere) {
    for (int id : {128, 130, 131, 132, 133, 134, 136, 138, 140, 141, 142, 143, 144, 182}) {
        const QIcon icon = ResourceIcon(id);
        ASSERT_FALSE(icon.isNull()) << id;
        EXPECT_FALSE(icon.pixmap(16, 16).isNull()) << id;
    }
    for (int id : {141, 142}) EXPECT_FALSE(ResourceBitmap(id).isNull()) << id;
}

TEST(ResourcesTest, UnknownIdsGiveNothing) {
    for (int id : {0, 135, 139, 999}) {
        EXPECT_TRUE(ResourceIcon(id).isNull()) << id;
        EXPECT_TRUE(ResourceBitmap(id).isNull()) << id;
        EXPECT_TRUE(SoundResourcePath(id).isEmpty()) << id;
        EXPECT_TRUE(SoundResourceUrl(id).isEmpty()) << id;
    }
}

// The sounds are short 16-bit mono PCM waves, which every sound device plays.
TEST(ResourcesTest, SoundsAreShortMonoWaves) {
    for (int id : {132, 140, 163}) {
        EXPECT_EQ(SoundResourceUrl(id).toString(), SoundResourcePath(id).prepend("qrc")) << id;
        QFile file(SoundResourcePath(id));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << id;
        const QByteArray wave = file.readAll();
        ASSERT_GE(wave.size(), 44) << id;
        EXPECT_EQ(wave.left(4), "RIFF");
        EXPECT_EQ(wave.mid(8, 8), "WAVEfmt ");
        const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(wave.constData() + at); };
        const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(wave.constData() + at); };
        EXPECT_EQ(u16(20), 1) << id;   // PCM
        EXPECT_EQ(u16(22), 1) << id;   // mono
        EXPECT_EQ(u16(34), 16) << id;  // bits per sample
        const double seconds = double(u32(40)) / (2.0 * u32(24));
        EXPECT_GE(seconds, 0.2) << id;
        EXPECT_LE(seconds, 0.5) << id;
    }
}

}  // namespace
}  // namespace torvane
