#pragma once
// The window of a conversion run (Tools > Data Convert, Tools > Convert
// folder...): the folder, how far the run is, "Cancel" while it runs, and
// after it the result with "Open folder".
#include <QDialog>
#include <functional>
#include <string>

#include "conversion/conversion_job.h"
#include "window/string_table.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace lumora {

class ConversionWindow : public QDialog {
    Q_OBJECT
public:
    ConversionWindow(Language lang, QWidget* parent);

    // A run over directory has started.
    void Begin(const std::string& directory);
    // How far the run is: sources finished of all, records of the current one.
    void ShowProgress(int filesDone, int filesTotal, int recordsPos, int recordsRange);
    // The run has ended.
    void Finish(const ConversionSummary& summary);
    // Shows the run's folder in the desktop's file manager; when none can be
    // started the window says so. false then.
    bool OpenFolder();

    // Cancel was pressed: the run is to stop.
    std::function<void()> onCancel;
    // Shows a folder in the file manager; false when there is none.
    std::function<bool(const std::string& directory)> showFolder;

    QString Status() const;
    // What "Open folder" had to say (no file manager); empty otherwise.
    QString Notice() const;
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* OpenFolderButton() const { return open_; }

private:
    Language lang_;
    std::string directory_;
    QLabel* folder_ = nullptr;
    QLabel* files_ = nullptr;
    QProgressBar* records_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* notice_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* open_ = nullptr;
};

// QDesktopServices: the folder in the desktop's file manager; false when no
// file manager could be started.
bool ShowFolderInFileManager(const std::string& directory);

}  // namespace lumora
