#pragma once

#include "state/OperatorPorts.h"

class QWidget;

namespace torvane {

class Core;

// The manual detection input of the desktop: the dialog, shown modally over the given window.
class ManualDetectionDialogInput : public ManualDetectionInput {
public:
    ManualDetectionDialogInput(Core& core, QWidget* parent) : core_(core), parent_(parent) {}

    std::optional<ManualDetection> AskManualDetection(
        const std::vector<std::string>& detectors) override;

private:
    Core& core_;
    QWidget* parent_;
};

}  // namespace torvane
