#include "ui/CDlgConfig.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/Core.h"
#include "app/UnknownChipResend.h"
#include "base/Texts.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnitLayout.h"
#include "ui/Resources.h"
#include "ui/SoundPlayer.h"
#include "ui/UiText.h"
#include "widgets/CBalloonHelp.h"

namespace torvane {
namespace {

namespace config = controls::config;

constexpr int kWarningIcon = 136;
constexpr int kWarningSound = 140;
constexpr int kDaysToAddItems = 4;
const QSize kDesignedDialogUnits(300, 221);

// The list entry that shows a days-to-add value; none (−1) outside the list.
int DaysToAddItem(int daysToAdd) {
    return daysToAdd >= 0 && daysToAdd < kDaysToAddItems ? daysToAdd : -1;
}

// Inside the control, two thirds across and half way down, on the screen.
QPoint BalloonAnchor(const QWidget* field) {
    return field->mapToGlobal(QPoint(field->width() * 2 / 3, field->height() / 2));
}

}  // namespace

CDlgConfig::CDlgConfig(Core& core, const ConfigurationValues& values, QWidget* parent)
    : QDialog(parent), core_(core), playSound_(PlayWaveResource), values_(values) {
    setWindowTitle(Text("Torvane Configuration", "Configuration Torvane"));
    CreateControls();
    Initialise();
}

void CDlgConfig::CreateControls() {
    const DialogUnitLayout layout(*this, kDesignedDialogUnits);

    auto* connections = layout.Add<QGroupBox>("groupConnections", QRect(7, 4, 286, 58));
    connections->setTitle(Text(" TCP/IP Connections ", " Connexions TCP/IP "));
    layout.AddLabel("labelMyLaps", QRect(16, 20, 56, 8), QStringLiteral("MyLaps"));
    layout.AddLabel("labelMyLapsPort", QRect(78, 20, 25, 8), Text("Port :", "Port :"));
    myLapsPort_ = layout.Add<QLineEdit>(config::kMyLapsPort, QRect(104, 17, 44, 14));
    layout.AddLabel("labelOstrak", QRect(16, 40, 56, 8), Text("Ostrak-Pro ", "Ostrak-Pro "));
    layout.AddLabel("labelHost", QRect(78, 40, 25, 8), Text("Host:", "Hôte :"));
    host_ = layout.Add<QLineEdit>(config::kHost, QRect(104, 37, 108, 14));
    layout.AddLabel("labelHostPort", QRect(220, 40, 22, 8), Text("Port :", "Port :"));
    hostPort_ = layout.Add<QLineEdit>(config::kHostPort, QRect(243, 37, 41, 14));

    auto* others = layout.Add<QGroupBox>("groupOthers", QRect(7, 66, 286, 127));
    others->setTitle(Text(" Other settings ", " Divers "));
    layout.AddLabel("labelLongRaces", QRect(16, 81, 128, 8),
                    Text("Long (very very long) races", "Longues (très très longues) courses"));
    daysToAdd_ = layout.Add<QComboBox>(config::kDaysToAdd, QRect());
    daysToAdd_->addItems({Text("Use today times", "Utiliser l'heure d'aujourd'hui"),
                          Text("Add 24 hours to times", "Ajouter 24h aux temps"),
                          Text("Add 48 hours to times", "Ajouter 48h aux temps"),
                          Text("Add 72 hours to times", "Ajouter 72h aux temps")});
    layout.PlaceDropDown(daysToAdd_, QRect(148, 78, 136, 60));

    openAtStartup_ = layout.Add<QCheckBox>(config::kOpenAtStartup, QRect(16, 95, 268, 12));
    openAtStartup_->setText(
        Text("Open activity window when starting", "Ouvrir la fenêtre de suivi au lancement"));
    haltedAtStartup_ = layout.Add<QCheckBox>(config::kHaltedAtStartup, QRect(16, 108, 268, 12));
    haltedAtStartup_->setText(
        Text("Close detection flow when starting", "Fermer le flux des détections au lancement"));
    ignoreUnknown_ = layout.Add<QCheckBox>(config::kIgnoreUnknown, QRect(16, 121, 268, 12));
    ignoreUnknown_->setText(
        Text("Ignore chip ids which are not present in the chip table",
             "Ignorer les puces non présentes dans la table de correspondance"));
    auto* reload = layout.Add<QPushButton>(config::kReloadChipTable, QRect(16, 136, 150, 14));
    reload->setText(Text("Reload chip table", "Recharger la table de correspondance"));
    reload->setAutoDefault(false);

    dagWanted_ = layout.Add<QCheckBox>(config::kDagWanted, QRect(16, 156, 268, 12));
    dagWanted_->setText(Text("Record all detections in a .DAG file",
                             "Enregistrer les détections dans un fichier .DAG"));
    alsoTransmit_ = layout.Add<QCheckBox>(config::kAlsoTransmit, QRect(28, 169, 256, 20));
    alsoTransmit_->setText(
        Text("Also transmit detections to Ostrak-Pro\nwhile recording to the DAG file",
             "Transmette à Ostrak-Pro également\nalors qu'on enregistre dans le fichier DAG "));

    auto* ok = layout.Add<QPushButton>(controls::kOk, QRect(88, 200, 56, 14));
    ok->setText(Text("OK", "OK"));
    ok->setDefault(true);
    auto* cancel = layout.Add<QPushButton>(controls::kCancel, QRect(156, 200, 56, 14));
    cancel->setText(Text("Cancel", "Annuler"));
    cancel->setAutoDefault(false);

    connect(ok, &QPushButton::clicked, this, &CDlgConfig::accept);
    connect(cancel, &QPushButton::clicked, this, &CDlgConfig::reject);
    connect(dagWanted_, &QCheckBox::clicked, this, [this] { OnDagClicked(); });
    connect(reload, &QPushButton::clicked, this, [this] { OnReloadClicked(); });
}

void CDlgConfig::Initialise() {
    myLapsPort_->setText(QString::number(values_.myLapsPort));
    hostPort_->setText(QString::number(values_.hostPort));
    host_->setText(QString::fromStdString(values_.hostAddress));
    openAtStartup_->setChecked(values_.openWindowAtStartup);
    haltedAtStartup_->setChecked(values_.closeFlowAtStartup);
    dagWanted_->setChecked(values_.dagWanted);
    alsoTransmit_->setChecked(values_.alsoTransmit);
    alsoTransmit_->setEnabled(values_.dagWanted);
    daysToAdd_->setCurrentIndex(DaysToAddItem(values_.daysToAdd));
    ignoreUnknown_->setChecked(values_.ignoreUnknownChips);
}

void CDlgConfig::OnDagClicked() {
    alsoTransmit_->setEnabled(dagWanted_->isChecked());
}

void CDlgConfig::OnReloadClicked() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (ReloadChipTable(core_, [] { QApplication::restoreOverrideCursor(); }))
        OfferUnknownChipResend(core_);
}

void CDlgConfig::accept() {
    const auto refusal =
        AcceptTypedFields(myLapsPort_->text().toStdString(), hostPort_->text().toStdString(),
                          host_->text().toStdString(), values_);
    if (refusal) {
        QWidget* field = refusal->field == ConfigurationField::MyLapsPort ? myLapsPort_
                         : refusal->field == ConfigurationField::HostPort ? hostPort_
                                                                          : host_;
        Refuse(field, refusal->message);
        return;
    }
    values_.openWindowAtStartup = openAtStartup_->isChecked();
    values_.closeFlowAtStartup = haltedAtStartup_->isChecked();
    values_.dagWanted = dagWanted_->isChecked();
    values_.alsoTransmit = alsoTransmit_->isChecked();
    // The entry shown at opening, left as it was, keeps the opening's value (which may lie
    // outside the list): only another entry is the operator's choice.
    if (daysToAdd_->currentIndex() != DaysToAddItem(values_.daysToAddAtOpening))
        values_.daysToAdd = daysToAdd_->currentIndex();
    values_.ignoreUnknownChips = ignoreUnknown_->isChecked();
    QDialog::accept();
}

void CDlgConfig::Refuse(QWidget* field, const std::string& message) {
    if (balloon_) balloon_->close();
    balloon_ = CBalloonHelp::LaunchBalloon(
        QStringLiteral("Torvane"), QString::fromStdString(message), ResourceIcon(kWarningIcon),
        BalloonAnchor(field), CBalloonHelp::kDefaultTimeoutMs, this);
    if (playSound_) playSound_(kWarningSound);
}

void Configure(Core& core, QWidget* parent) {
    CDlgConfig dialog(core, LoadConfiguration(core), parent);
    if (dialog.exec() != QDialog::Accepted) return;
    ApplyConfiguration(core, dialog.Values());
}

}  // namespace torvane
