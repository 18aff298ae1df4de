#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "state/SummaryItem.h"
#include "ui/SummaryRowDelegate.h"
#include "widgets/DialogUnits.h"

namespace torvane {
namespace {

TEST(SummaryTextColourTest, FollowsTheErrorFlag) {
    const struct {
        int errorFlag;
        QColor colour;
    } cases[] = {{0, QColor(0, 64, 0)},
                 {1, QColor(140, 70, 0)},
                 {7, QColor(140, 70, 0)},
                 {-1, QColor(0, 0, 0)},
                 {-9, QColor(0, 0, 0)}};
    for (const auto& c : cases) EXPECT_EQ(SummaryTextColour(c.errorFlag), c.colour) << c.errorFlag;
}

// One summary row painted without antialiasing, so every text pixel has the pen's colour.
class PaintedRow {
public:
    explicit PaintedRow(const CSummaryItem& item) : font_(QApplication::font()) {
        font_.setPointSize(8);
        font_.setStyleStrategy(QFont::NoAntialias);
        averageWidth = BaseUnitsOf(font_).averageCharWidth;
        image = QImage(140 * averageWidth, kSummaryRowHeight, QImage::Format_RGB32);
        image.fill(QColor(255, 0, 255));  // anything the row does not paint stays magenta
        QPainter painter(&image);
        PaintSummaryRow(painter, image.rect(), font_, item);
    }

    // Colours other than the white background found between two x positions.
    std::set<QRgb> InkBetween(int fromX, int toX) const {
        std::set<QRgb> inks;
        for (int y = 0; y < image.height(); ++y)
            for (int x = fromX; x < std::min(toX, image.width()); ++x)
                if (image.pixel(x, y) != qRgb(255, 255, 255)) inks.insert(image.pixel(x, y));
        return inks;
    }

    int averageWidth = 0;
    QImage image;

private:
    QFont font_;
};

CSummaryItem Row(int bib, const std::string& name, int errorFlag) {
    CSummaryItem item;
    item.bib = bib;
    item.name = name;
    item.time = "01:02:03.45";
    item.passage = "2";
    item.status = "12e / 250";
    item.errorFlag = errorFlag;
    return item;
}

TEST(PaintSummaryRowTest, DrawsOnWhiteInTheColourOfTheErrorFlag) {
    for (int errorFlag : {-1, 0, 1}) {
        const PaintedRow row(Row(42, "DUPONT Jean", errorFlag));
        const std::set<QRgb> inks = row.InkBetween(0, row.image.width());
        EXPECT_EQ(inks, std::set<QRgb>{SummaryTextColour(errorFlag).rgb()}) << errorFlag;
    }
}

TEST(PaintSummaryRowTest, PutsEachFieldInItsColumn) {
    const PaintedRow row(Row(42, "DUPONT Jean", 0));
    const int a = row.averageWidth;
    const struct {
        const char* column;
        int from, to;  // in average widths
    } columns[] = {
        {"bib", 1, 6}, {"name", 7, 32}, {"time", 33, 45}, {"passage", 46, 50}, {"status", 51, 131}};
    for (const auto& c : columns)
        EXPECT_FALSE(row.InkBetween(c.from * a, c.to * a).empty()) << c.column;
    EXPECT_TRUE(row.InkBetween(0, a).empty());
}

TEST(PaintSummaryRowTest, LeavesTheBibColumnEmptyForBibZero) {
    const PaintedRow row(Row(0, "DUPONT Jean", 0));
    EXPECT_TRUE(row.InkBetween(0, 7 * row.averageWidth).empty());
    EXPECT_FALSE(row.InkBetween(7 * row.averageWidth, 32 * row.averageWidth).empty());
}

TEST(PaintSummaryRowTest, ClipsALongNameToItsColumn) {
    CSummaryItem item = Row(7, std::string(60, 'W'), 0);
    item.time.clear();
    item.passage.clear();
    item.status.clear();
    const PaintedRow row(item);
    const int a = row.averageWidth;
    EXPECT_FALSE(row.InkBetween(30 * a, 32 * a).empty());
    EXPECT_TRUE(row.InkBetween(32 * a, row.image.width()).empty());
}

}  // namespace
}  // namespace torvane
