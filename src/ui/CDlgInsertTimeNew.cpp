#include "ui/CDlgInsertTimeNew.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "app/Core.h"
#include "base/Texts.h"
#include "intake/ManualDetectionForm.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnitLayout.h"
#include "ui/Resources.h"
#include "ui/UiText.h"
#include "widgets/CLabelST.h"

namespace torvane {
namespace {

namespace manual = controls::manual;

constexpr int kDayOffsetIcon = 182;
constexpr int kDayOffsetPoints = 12;
constexpr int kIconPixels = 32;
const QSize kDesignedDialogUnits(186, 142);
const QColor kDayOffsetColour(128, 0, 0);

}  // namespace

CDlgInsertTimeNew::CDlgInsertTimeNew(Core& core, std::vector<std::string> detectors,
                                     QWidget* parent)
    : QDialog(parent), core_(core), detectors_(std::move(detectors)) {
    setWindowTitle(Text("Manual bib number input", "Saisie manuelle de dossard"));
    CreateControls();
    Initialise();
}

void CDlgInsertTimeNew::CreateControls() {
    const DialogUnitLayout layout(*this, kDesignedDialogUnits);

    insertTime_ =
        layout.AddLabel(manual::kInsertTime, QRect(7, 7, 143, 8), QString(), Qt::AlignCenter);
    QLabel* timeLabel =
        layout.AddLabelAt("labelTime", QPoint(7, 28), Text("Time to insert:", "Temps à insérer :"));
    time_ = layout.Add<QLineEdit>(manual::kTime, QRect(73, 25, 70, 14));
    layout.KeepLabelBeforeField(timeLabel, time_);
    time_->setAlignment(Qt::AlignCenter);
    QLabel* bibLabel =
        layout.AddLabelAt("labelBib", QPoint(7, 47), Text("Bib number:", "Numéro de dossard :"));
    bib_ = layout.Add<QLineEdit>(manual::kBib, QRect(80, 44, 63, 14));
    layout.KeepLabelBeforeField(bibLabel, bib_);
    bib_->setAlignment(Qt::AlignCenter);
    QLabel* detectorLabel =
        layout.AddLabelAt("labelDetector", QPoint(7, 66), Text("Detector :", "Détecteur :"));
    detectorList_ = layout.Add<QComboBox>(manual::kDetectors, QRect());
    layout.PlaceDropDown(detectorList_, QRect(60, 64, 83, 75));
    layout.KeepLabelBeforeField(detectorLabel, detectorList_);
    QLabel* correctionLabel = layout.AddLabel("labelCorrection", QRect(8, 95, 70, 9),
                                              Text("Time correction:", "Correction des temps :"));
    dayOffsets_ = layout.Add<QComboBox>(manual::kDayOffsets, QRect());
    dayOffsets_->addItems({Text("Use today times", "Utiliser le temps tel quel"),
                           Text("Add 24 hours to times", "Ajouter 24h aux temps"),
                           Text("Add 48 hours to times", "Ajouter 48h aux temps"),
                           Text("Add 72 hours to times", "Ajouter 72h aux temps")});
    layout.PlaceDropDown(dayOffsets_, QRect(79, 93, 99, 48));
    layout.KeepLabelBeforeField(correctionLabel, dayOffsets_);

    auto* ok = layout.Add<QPushButton>(controls::kOk, QRect(40, 121, 50, 14));
    ok->setText(Text("OK", "OK"));
    ok->setDefault(true);
    auto* cancel = layout.Add<QPushButton>(controls::kCancel, QRect(102, 121, 50, 14));
    cancel->setText(Text("Cancel", "Annuler"));
    cancel->setAutoDefault(false);

    dayOffsetIcon_ = layout.Add<QLabel>(manual::kDayOffsetIcon, QRect(164, 15, 20, 20));
    dayOffsetIcon_->setAlignment(Qt::AlignCenter);
    const int iconSide = std::min({kIconPixels, dayOffsetIcon_->width(), dayOffsetIcon_->height()});
    dayOffsetIcon_->setPixmap(ResourceIcon(kDayOffsetIcon).pixmap(QSize(iconSide, iconSide)));
    dayOffsetLabel_ = layout.Add<CLabelST>(manual::kDayOffsetLabel, QRect(148, 2, 31, 13));
    dayOffsetLabel_->setText(QStringLiteral("+ 24h"));
    dayOffsetLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    connect(ok, &QPushButton::clicked, this, &CDlgInsertTimeNew::accept);
    connect(cancel, &QPushButton::clicked, this, &CDlgInsertTimeNew::reject);
    connect(dayOffsets_, &QComboBox::currentIndexChanged, this, [this] { ShowDayOffset(); });
}

void CDlgInsertTimeNew::Initialise() {
    const ManualDetectionOpening opening =
        OpenManualDetectionForm(core_.State(), detectors_.size());
    insertTime_->setText(QString::fromStdString(opening.insertTimeLabel));
    bib_->clear();
    time_->setText(QString::fromStdString(opening.timeText));
    for (const std::string& detector : detectors_)
        detectorList_->addItem(QString::fromStdString(detector));
    detectorList_->setCurrentIndex(detectors_.empty() ? -1 : opening.detectorIndex);
    dayOffsets_->setCurrentIndex(opening.dayOffsetIndex);
    ShowDayOffset();
    bib_->setFocus();
}

void CDlgInsertTimeNew::ShowDayOffset() {
    const std::string text = DayOffsetText(dayOffsets_->currentIndex());
    const bool shown = !text.empty();
    if (shown) {
        dayOffsetLabel_->setText(QString::fromStdString(text));
        dayOffsetLabel_->SetTextColor(kDayOffsetColour);
        dayOffsetLabel_->SetFontBold(true);
        dayOffsetLabel_->SetFontSize(kDayOffsetPoints);
    }
    dayOffsetLabel_->setVisible(shown);
    dayOffsetIcon_->setVisible(shown);
}

void CDlgInsertTimeNew::accept() {
    auto checked = ValidateManualDetection(bib_->text().toStdString(), time_->text().toStdString(),
                                           detectorList_->currentIndex(), detectors_,
                                           dayOffsets_->currentIndex());
    if (!checked) {
        core_.Dialogs().ShowMessage(checked.error, MessageIcon::Warning);
        return;
    }
    detection_ = std::move(checked.value);
    QDialog::accept();
}

void CDlgInsertTimeNew::reject() {
    CancelManualDetection(detectorList_->currentIndex());
    QDialog::reject();
}

}  // namespace torvane
