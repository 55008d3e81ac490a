#pragma once
// The station dialog on Qt: the line, sharing and the station folder, drawn
// from its design (station/StationDialog.h); OK hands the form to the engine
// and stays open with the reason when it is refused.

#include "station/StationDialog.h"

#include <QDialog>

#include <array>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrel {

class TStationDialog : public QDialog {
    Q_OBJECT
public:
    explicit TStationDialog(StationDialogModel& model, QWidget* parent = nullptr);

    // The form as the fields hold it.
    StationForm form() const;
    // The field of each StationField (none for None).
    QWidget* field(StationField f) const;

    QComboBox* Source;
    QComboBox* Port;  // editable: a listed port or a typed device
    QLineEdit* Host;
    QLineEdit* TcpPort;
    std::array<QLineEdit*, 5> Share{};  // Url, NoradId, Callsign, Latitude, Longitude
    QLineEdit* Folder;
    QPushButton* OpenFolder;
    QLabel* Message;
    QPushButton* Ok;
    QPushButton* Cancel;

    // OK: what the engine said, shown; closes when it took the form.
    void okClicked();
    // Opens the station folder in the file manager; says so when none did.
    void openFolderClicked();

private:
    void sourceChanged();
    void say(const std::string& text);

    StationDialogModel& model_;
};

// Test hook: runs in place of the dialog's modal loop and returns its result.
using TStationDialogDriver = std::function<int(TStationDialog&)>;
void SetStationDialogDriver(TStationDialogDriver driver);
// Runs the dialog for model over parent (through the test hook when set).
void RunStationDialog(StationDialogModel& model, QWidget* parent);

}  // namespace kestrel
