#pragma once

#include <QRect>
#include <QString>

#include "widgets/DialogUnits.h"

class QComboBox;
class QLabel;
class QListView;
class QPushButton;
class QWidget;

namespace torvane {

struct ActivityLists;
class CButtonST;
class CLabelST;

// The controls of the activity window, each at its designed place in dialog units and named by
// its control id; the three lists show the core's lists. The window sets their texts and states.
struct ActivityControls {
    QLabel* dayOffsetIcon = nullptr;         // 1224
    CLabelST* dayOffsetLabel = nullptr;      // 1223
    CButtonST* flowButton = nullptr;         // 1009
    QPushButton* configureButton = nullptr;  // 1014
    QPushButton* insertButton = nullptr;     // 1018
    QLabel* hint = nullptr;                  // 1005, its text set by the window
    QListView* detectionList = nullptr;      // 1003
    QListView* logList = nullptr;            // 1007
    QListView* summaryList = nullptr;        // 1013
    QComboBox* levelBox = nullptr;           // 1020
    QPushButton* exitButton = nullptr;       // 1004
    QPushButton* hideButton = nullptr;       // 3
    QLabel* waitingLabel = nullptr;
    QPushButton* journalButton = nullptr;  // opens the journal window
};

ActivityControls CreateActivityControls(QWidget& window, const DialogBaseUnits& base,
                                        ActivityLists& lists);

// The smallest font a text is shrunk to so that it fits its control.
inline constexpr double kSmallestControlPoints = 6;

}  // namespace torvane
