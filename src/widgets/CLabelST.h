#pragma once

#include <QColor>
#include <QLabel>

namespace torvane {

// A label whose text colour, weight and point size can be set one by one.
class CLabelST : public QLabel {
public:
    explicit CLabelST(QWidget* parent = nullptr) : QLabel(parent) {}

    void SetTextColor(const QColor& colour);
    void SetFontBold(bool bold);
    void SetFontSize(int points);
};

}  // namespace torvane
