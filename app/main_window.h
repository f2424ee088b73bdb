// TForm1, the main window: the profile and parameter lists, the file list, the buttons, menus
// and status bar, adding files, settings and the dialogs. It adapts app/profiles/ to its combo
// boxes and renders the conversion driver; it holds no profile knowledge of its own.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSettings>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QToolButton>
#include <QTreeView>

#include <functional>
#include <memory>
#include <string>

#include "FFMPEG/component/engine.h"
#include "app/conversion_driver.h"
#include "app/file_list_model.h"
#include "app/profiles/profile_lists.h"
#include "components/worker_thread.h"

namespace clipwright {

// The general options dialog ("Additional Options").
class TForm4 : public QDialog {
public:
    explicit TForm4(QWidget* parent);
    QCheckBox* CheckBoxOverWrite;
    QSpinBox* SpinEdit1;
    QComboBox* ComboSimultaneous; // "Auto", "1" … "8"
    QComboBox* ComboLogDetails;   // "Errors", "Information", "Debug"
    QCheckBox* CheckBoxKeepList;  // the file list kept between sessions; off by default

    // How many rows convert at once: the choice, or Auto's count of cores.
    int Simultaneous() const;
    TLogLevel LogLevel() const;
};

class TForm1 : public QMainWindow, public DriverView {
public:
    TForm1();
    ~TForm1() override;

    // False when the libraries could not be bound (the message has been shown).
    bool Started() const { return started_; }

    // Settings through QSettings("Vexlane", "Clipwright").
    void LoadSettings();
    void SaveSettings();
    // Simultaneous conversions, log details, the kept list, the window's place and its columns.
    void LoadWindowSettings(QSettings& settings);
    // The list choices saved with the current profile, once its lists are filled: each where
    // the saved text is still one of its list's entries.
    void RestoreListChoices();

    // The add path of the open dialog, drops and tests: each file probed, a row each; a folder
    // adds the media files under it (MediaFilesUnder).
    void AddFiles(const QStringList& paths);
    // Files handed over at launch (the command line, a file manager's "Open with"): paths,
    // relative to the current folder or absolute, or file:// URLs; listed through AddFiles.
    void OpenFiles(const QStringList& arguments);
    void ComboOutputFormatChange();
    void ButtonAddFileClick();
    // Asks for a folder and adds it as AddFolder does.
    void AddFolderClick();
    // Adds the media files under `folder` and its subfolders the way Add Files adds its files.
    void AddFolder(const QString& folder);
    // Removes the selected rows (several with Ctrl or Shift); nothing while a batch runs.
    void DeleteSelectedItem1Click();
    // Opens the output folder in the file manager.
    void OpenOutputFolder();
    void ClearAllItems1Click();
    void CheckAllItems(bool checked);
    void TrackBar1Change();
    // Opens `url` with the desktop's program for it; a message when there is none.
    void OpenUrl(const QUrl& url);
    void OpenHelpFile();

    ConversionDriver& Driver() { return *driver_; }
    TFFmpegEngine& Engine() { return engine_; }
    FileListModel& FileList() { return rows_; }
    QTreeView* ListView1 = nullptr;
    QComboBox* ComboOutputFormat = nullptr;
    QLineEdit* EditOutputFolder = nullptr;
    QSlider* TrackBar1 = nullptr;
    QLabel* LabelVolume = nullptr;
    QComboBox* ComboLetterBox = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* ButtonStopConvert = nullptr;
    QPushButton* ButtonStopSmall = nullptr;
    // The selected row's file, outcome, reason and log lines.
    QPlainTextEdit* RowDetails = nullptr;
    TForm4* Form4 = nullptr;

    // DriverView.
    void ShowRow(int row) override;
    void SetProgressBar(int percent) override;
    void SetStatusText(int panel, const QString& text) override;
    QString OutputFolder() const override;
    bool Overwrite() const override;
    int SimultaneousConversions() const override { return Form4->Simultaneous(); }
    ConversionChoices Choices() override;
    void Inform(const QString& text) override;
    bool AskYesNo(const QString& text) override;
    void BrowseForFolder() override;
    void EnableAll(bool enabled) override;
    // A desktop notification when the window is not the active one.
    void BatchCompleted(const QString& summary) override;
    virtual void NotifyDesktopOf(const QString& summary);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildLayout();
    QLayout* BuildFolderRow(QWidget* central);
    QLayout* BuildSettingsRow(QWidget* central);
    QWidget* BuildFileList(QWidget* central);
    QLayout* BuildButtons(QWidget* central);
    // A profile list's combo box with its label in row `row` of the group's grid.
    QComboBox* AddListCombo(QGridLayout* grid, int row, const char* label, const char* name,
                            ProfileList* list);
    void BuildMenus();
    void PushListsToCombos();
    void PullCombosToLists();
    void AddFileRow(const QString& file);
    // Lists what `choose` returns through the adding worker; nothing while converting or
    // adding already.
    void AddChosen(const std::function<QStringList()>& choose);
    // Whether the probe reads `file` with sound or moving pictures in it.
    bool HoldsMedia(const QString& file);
    void ShowRowDetails();
    // Column widths that hold their usual texts in the window's font.
    void FitColumns();
    // The counts in the status bar, the batch's progress in the title, the kept list.
    void ListChanged();
    void RestoreKeptList();
    void KeepListNow();
    // Until the rows stopped by closing have ended (their outcomes kept), at most a while.
    void WaitForRunningRows();

    TFFmpegEngine engine_;
    FileListModel rows_;
    std::unique_ptr<ConversionDriver> driver_;
    TWorkerThread WorkerThread1;
    QStringList pending_files_;
    ProfileLists lists_;
    std::string output_type_;
    int last_profile_index_ = 0;
    bool started_ = false;
    bool centre_on_show_ = false;
    bool closing_ = false;
    QTimer keep_timer_; // coalesces the list's changes into one write
    QLabel* counts_ = nullptr;
    int volume_level_ = 255;
    QLabel* status_[3] = {};
    std::vector<std::pair<QComboBox*, ProfileList*>> combos_;
    std::vector<QWidget*> disable_while_converting_;
    QMenu* PopupListView1 = nullptr;
};

// The open dialog's filter, as the file list defines it ("desc|patterns|…|").
QString OpenDialogFilter();
// The same as Qt name filters ("desc (patterns)").
QStringList OpenDialogNameFilters();
// The extensions of the "All Supported Files" entry, lower-case without the dot.
QStringList SupportedExtensions();

} // namespace clipwright
