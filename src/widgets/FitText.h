#pragma once

#include <vector>

class QAbstractButton;
class QLabel;

namespace torvane {

// Sets a word-wrapped label's font smaller, half a point at a time down to `smallestPoints`,
// until its text fits the label's height. Texts written for a narrow font keep showing whole
// with a wider one.
void ShrinkFontToFit(QLabel& label, double smallestPoints);

// Gives buttons of one kind one font, smaller half a point at a time down to `smallestPoints`,
// until each text fits its button with the margins that the style asks for around it.
void ShrinkFontToFit(const std::vector<QAbstractButton*>& buttons, double smallestPoints);

}  // namespace torvane
