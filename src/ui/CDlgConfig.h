#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>

#include "app/Configuration.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace torvane {

class CBalloonHelp;
class Core;

// The configuration dialog: shows the values it is given and hands back what the operator
// accepted. OK is refused, with a balloon on the field, while a port or the host is invalid.
class CDlgConfig : public QDialog {
public:
    CDlgConfig(Core& core, const ConfigurationValues& values, QWidget* parent = nullptr);

    // Valid after OK.
    const ConfigurationValues& Values() const { return values_; }

    // How the warning sound of a refused OK is played (by default the program's sounds).
    void SetSoundPlayer(std::function<void(int soundId)> play) { playSound_ = std::move(play); }

    void accept() override;

private:
    void CreateControls();
    void Initialise();
    void OnDagClicked();
    void OnReloadClicked();
    void Refuse(QWidget* field, const std::string& message);

    Core& core_;
    std::function<void(int)> playSound_;
    QPointer<CBalloonHelp> balloon_;

    QCheckBox* openAtStartup_ = nullptr;    // 1003
    QCheckBox* haltedAtStartup_ = nullptr;  // 1010
    QCheckBox* ignoreUnknown_ = nullptr;    // 1253
    QCheckBox* dagWanted_ = nullptr;        // 1011
    QComboBox* daysToAdd_ = nullptr;        // 1131
    QLineEdit* myLapsPort_ = nullptr;       // 1000
    QLineEdit* hostPort_ = nullptr;         // 1002
    QLineEdit* host_ = nullptr;             // 1001
    ConfigurationValues values_;
    QCheckBox* alsoTransmit_ = nullptr;  // 1012
};

// The activity window's "Configuration..." button: loads the values, shows the dialog modally
// and applies what the operator accepted.
void Configure(Core& core, QWidget* parent);

}  // namespace torvane
