#include "ui/ManualDetectionDialogInput.h"

#include "ui/CDlgInsertTimeNew.h"

namespace torvane {

std::optional<ManualDetection> ManualDetectionDialogInput::AskManualDetection(
    const std::vector<std::string>& detectors) {
    CDlgInsertTimeNew dialog(core_, detectors, parent_);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Detection();
}

}  // namespace torvane
