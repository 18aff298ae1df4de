#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "state/OperatorPorts.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace torvane {

class CLabelST;
class Core;

// The manual detection dialog: a time, a bib, a detector of the given list and a day
// correction. OK is refused with a warning box until the three are valid.
class CDlgInsertTimeNew : public QDialog {
public:
    CDlgInsertTimeNew(Core& core, std::vector<std::string> detectors, QWidget* parent = nullptr);

    // Set by OK.
    const std::optional<ManualDetection>& Detection() const { return detection_; }

    void accept() override;
    void reject() override;

private:
    void CreateControls();
    void Initialise();
    void ShowDayOffset();

    Core& core_;
    QComboBox* detectorList_ = nullptr;   // 1083
    QLineEdit* bib_ = nullptr;            // 1081
    QComboBox* dayOffsets_ = nullptr;     // 1131
    QLabel* dayOffsetIcon_ = nullptr;     // 1224
    CLabelST* dayOffsetLabel_ = nullptr;  // 1223
    QLabel* insertTime_ = nullptr;        // 1082
    QLineEdit* time_ = nullptr;           // 1240
    std::optional<ManualDetection> detection_;
    std::vector<std::string> detectors_;
};

}  // namespace torvane
