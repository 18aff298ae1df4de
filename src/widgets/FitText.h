#pragma once

class QLabel;

namespace torvane {

// Sets a word-wrapped label's font smaller, half a point at a time down to `smallestPoints`,
// until its text fits the label's height. Texts written for a narrow font keep showing whole
// with a wider one.
void ShrinkFontToFit(QLabel& label, double smallestPoints);

}  // namespace torvane
