#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QStandardItemModel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <exception>
#include <stdexcept>

#include "app/desktop_notification.h"
#include "app/file_list_store.h"
#include "app/folder_scan.h"
#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
#include "app/profiles/job_submission.h"
#include "app/profiles/list_texts.h"
#include "app/profiles/program_folders.h"

namespace clipwright {

TForm1::TForm1() {
    setObjectName("Form1");
    setWindowTitle("Clipwright");
    setAcceptDrops(true);
    BuildLayout();
    BuildMenus();
    driver_ = std::make_unique<ConversionDriver>(engine_, rows_, *this);

    driver_->ReceiveEngineEvents();

    if (!engine_.LoadAVLib(LibraryFolder(), true)) {
        Inform("Some files are missing. Please re-install this software");
        return;
    }
    started_ = true;
    TrackBar1->setValue(5);
    TrackBar1Change();
    for (const std::string& entry : ProfileListEntries()) {
        ComboOutputFormat->addItem(QString::fromStdString(entry));
        // A separator stays in the list but cannot be chosen: the arrow keys and the wheel
        // pass over it.
        if (IsProfileSeparator(entry)) {
            auto* model = static_cast<QStandardItemModel*>(ComboOutputFormat->model());
            QStandardItem* item = model->item(ComboOutputFormat->count() - 1);
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
        }
    }
    ComboOutputFormat->setMaxVisibleItems(25);
    ComboOutputFormat->setCurrentIndex(0);

    WorkerThread1.OnStart = [this](TWorkerThread*, TWorkerExecuteThread*, void*&) {
        AddFiles(pending_files_);
    };
    Form4 = new TForm4(this);
    keep_timer_.setSingleShot(true);
    keep_timer_.setInterval(300);
    connect(&keep_timer_, &QTimer::timeout, this, [this] { KeepListNow(); });
    connect(Form4->SpinEdit1, qOverload<int>(&QSpinBox::valueChanged), this,
            [this](int rows) { ComboOutputFormat->setMaxVisibleItems(rows); });
    connect(Form4->ComboLogDetails, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int) { engine_.SetLogLevel(Form4->LogLevel()); });
    LoadSettings();
    engine_.SetLogLevel(Form4->LogLevel());
    connect(ComboOutputFormat, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int) { ComboOutputFormatChange(); });
    ComboOutputFormatChange();
    RestoreListChoices();
    if (Form4->CheckBoxKeepList->isChecked())
        RestoreKeptList();
    // Only now: the saved choice set above must not write the empty list over the kept one.
    connect(Form4->CheckBoxKeepList, &QCheckBox::toggled, this, [this](bool keep) {
        // At once: a list kept for a program that dies is of use only if the next start knows.
        QSettings("Vexlane", "Clipwright").setValue("KeepList", keep);
        if (keep)
            KeepListNow();
        else
            QFile::remove(KeptListPath());
    });
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&rows_, signal, this, [this] { ListChanged(); });
    // A cleared list leaves no row current, and no details of a row that went.
    connect(&rows_, &QAbstractItemModel::modelReset, this, [this] {
        ShowRowDetails();
        ListChanged();
    });
    connect(&rows_, &QAbstractItemModel::dataChanged, this, [this] { ListChanged(); });
    ListChanged();
}

TForm1::~TForm1() {
    if (keep_timer_.isActive())
        KeepListNow();
    driver_->IgnoreEngineEvents();
    engine_.Stop();
    engine_.ClearTasks();
}

void TForm1::PushListsToCombos() {
    for (auto& [box, list] : combos_) {
        const QSignalBlocker quiet(box);
        box->clear();
        for (const std::string& item : list->Items)
            box->addItem(QString::fromStdString(item));
        box->setCurrentIndex(list->ItemIndex);
        // Never narrower than its longest entry, even in the smallest window.
        box->setMinimumWidth(box->sizeHint().width());
    }
}

void TForm1::PullCombosToLists() {
    for (auto& [box, list] : combos_)
        list->Select(box->currentIndex());
}

void TForm1::ComboOutputFormatChange() {
    const QString text = ComboOutputFormat->currentText();
    if (IsProfileSeparator(text.toStdString())) {
        const QSignalBlocker quiet(ComboOutputFormat);
        ComboOutputFormat->setCurrentIndex(last_profile_index_);
        return;
    }
    PullCombosToLists();
    FillProfileCombos(lists_, text.toStdString(), output_type_);
    PushListsToCombos();
    rows_.SetOutputType(QString::fromStdString(output_type_));
    ComboOutputFormat->setMaxVisibleItems(Form4 != nullptr ? Form4->SpinEdit1->value() : 25);
    last_profile_index_ = ComboOutputFormat->currentIndex();
}

void TForm1::TrackBar1Change() {
    const int position = TrackBar1->value();
    LabelVolume->setText(QString::number(position));
    LabelVolume->setText(QString::fromStdString(VolumeLabel(position)));
    volume_level_ = VolumeLevel(position);
}

void TForm1::AddFileRow(const QString& file) {
    const ProbedSource probed = ProbeSource(engine_.AVProbe(), file.toStdString());
    FileListModel::Row row;
    row.file = file;
    if (!probed.loaded) {
        row.progress = "Error";
        row.reason = QString::fromStdString(probed.error);
        rows_.Append(std::move(row));
        return;
    }
    row.facts = probed.source.facts;
    row.video_size = QString::fromStdString(probed.source.video_size_text);
    row.display_aspect = probed.source.display_aspect;
    if (!probed.frame_rate) {
        rows_.Append(std::move(row));
        throw std::runtime_error("frame rate with a zero denominator");
    }
    row.frame_rate = QString::fromStdString(*probed.frame_rate);
    row.duration = QString::fromStdString(probed.duration);
    row.output_type = QString::fromStdString(output_type_);
    rows_.Append(std::move(row));
}

bool TForm1::HoldsMedia(const QString& file) {
    TAVProbe& probe = engine_.AVProbe();
    if (!probe.LoadFile(file.toStdString(), ""))
        return false;
    // A subtitle file or a lone cover picture converts to nothing.
    const bool media = probe.VideoStreamCount() > 0 || probe.AudioStreamCount() > 0;
    probe.CloseFile();
    return media;
}

void TForm1::AddFiles(const QStringList& paths) {
    const QStringList extensions = SupportedExtensions();
    try {
        for (const QString& path : paths) {
            const QStringList files =
                QFileInfo(path).isDir()
                    ? MediaFilesUnder(path, extensions,
                                      [this](const QString& file) { return HoldsMedia(file); })
                    : QStringList{path};
            for (const QString& file : files) {
                AddFileRow(file);
                ListView1->scrollTo(rows_.index(rows_.Count() - 1, FileListModel::Name));
                QCoreApplication::processEvents();
            }
        }
    } catch (const std::exception&) {
        // The rows added so far stay; the rest is dropped without a message.
    }
}

void TForm1::AddChosen(const std::function<QStringList()>& choose) {
    if (driver_->Converting() || driver_->AddingFiles)
        return;
    engine_.ClearTasks();
    rows_.ClearProgress();
    driver_->AddingFiles = true;
    pending_files_ = choose();
    try {
        if (!pending_files_.isEmpty())
            WorkerThread1.Start();
    } catch (...) {
    }
    driver_->AddingFiles = false;
}

void TForm1::ButtonAddFileClick() {
    AddChosen([this] {
        return QFileDialog::getOpenFileNames(this, QString(), QString(),
                                             OpenDialogNameFilters().join(";;"));
    });
}

void TForm1::AddFolderClick() {
    AddChosen([this] {
        const QString folder = QFileDialog::getExistingDirectory(this, "Add Folder");
        return folder.isEmpty() ? QStringList() : QStringList{folder};
    });
}

void TForm1::AddFolder(const QString& folder) {
    AddChosen([&folder] { return QStringList{folder}; });
}

void TForm1::DeleteSelectedItem1Click() {
    if (driver_->AddingFiles || driver_->BatchRunning() || driver_->Converting())
        return;
    QList<int> selected;
    for (const QModelIndex& index : ListView1->selectionModel()->selectedRows())
        selected << index.row();
    if (selected.isEmpty() && ListView1->currentIndex().isValid())
        selected << ListView1->currentIndex().row();
    std::sort(selected.begin(), selected.end(), std::greater<>());
    for (const int row : selected)
        rows_.Remove(row);
}

void TForm1::OpenOutputFolder() {
    const QString folder = EditOutputFolder->text().trimmed();
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        Inform(folder.isEmpty() ? QStringLiteral("Please select an output folder!")
                                : MissingFolderText(EditOutputFolder->text()));
        return;
    }
    OpenUrl(QUrl::fromLocalFile(folder));
}

void TForm1::OpenUrl(const QUrl& url) {
    if (!QDesktopServices::openUrl(url))
        Inform("No program was found to open " + url.toDisplayString(QUrl::PreferLocalFile) +
               ".\nInstall a file manager and a web browser, or open it yourself.");
}

void TForm1::OpenHelpFile() {
    OpenUrl(QUrl::fromLocalFile(QString::fromStdString(HelpFolder() + "/index.html")));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        DeleteSelectedItem1Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::ShowRowDetails() {
    const int row = ListView1->currentIndex().row();
    if (row < 0 || row >= rows_.Count()) {
        RowDetails->clear();
        return;
    }
    const FileListModel::Row& r = rows_.At(row);
    QString text = r.file;
    if (!r.progress.isEmpty())
        text += "\n" + r.progress;
    if (!r.reason.isEmpty())
        text += ": " + r.reason;
    if (!r.log.isEmpty())
        text += "\n\n" + r.log.join('\n');
    RowDetails->setPlainText(text);
}

void TForm1::ClearAllItems1Click() {
    if (driver_->AddingFiles || driver_->Converting())
        return;
    engine_.ClearTasks();
    rows_.Clear();
}

void TForm1::ListChanged() {
    int checked = 0;
    int done = 0;
    int percent = 0;
    for (int row = 0; row < rows_.Count(); ++row) {
        const FileListModel::Row& r = rows_.At(row);
        if (!r.checked)
            continue;
        ++checked;
        // A row that ended counts whole, one not reached yet as nothing.
        if (r.progress.endsWith('%'))
            percent += r.progress.chopped(1).toInt();
        else if (!r.progress.isEmpty())
            ++done;
    }
    counts_->setText(QStringLiteral("%1 %2, %3 checked")
                         .arg(rows_.Count())
                         .arg(rows_.Count() == 1 ? "file" : "files")
                         .arg(checked));
    if (driver_ != nullptr && driver_->BatchRunning() && checked > 0)
        setWindowTitle(QStringLiteral("%1% - Clipwright").arg((done * 100 + percent) / checked));
    if (Form4 != nullptr && Form4->CheckBoxKeepList->isChecked() && !keep_timer_.isActive())
        keep_timer_.start();
}

void TForm1::CheckAllItems(bool checked) {
    rows_.SetAllChecked(checked);
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Every way out comes here. A running batch is stopped only when the user says so.
    if (closing_ ||
        (driver_->BatchRunning() &&
         !driver_->StopAfterAsking("Conversions are running. Stop them and quit?", true))) {
        event->ignore();
        return;
    }
    WaitForRunningRows();
    SaveSettings();
    KeepListNow();
    event->accept();
}

void TForm1::WaitForRunningRows() {
    if (!driver_->Converting())
        return;
    closing_ = true;
    QElapsedTimer clock;
    clock.start();
    QEventLoop wait;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &wait, [&] {
        if (!driver_->Converting() || clock.hasExpired(30000))
            wait.quit();
    });
    poll.start(20);
    wait.exec();
    closing_ = false;
}

void TForm1::OpenFiles(const QStringList& arguments) {
    QStringList files;
    for (const QString& argument : arguments) {
        const QUrl url(argument);
        const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
        files << QFileInfo(path).absoluteFilePath();
    }
    if (!files.isEmpty())
        AddFiles(files);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !driver_->Converting() && !driver_->AddingFiles)
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    if (driver_->AddingFiles)
        return;
    const QStringList extensions = SupportedExtensions();
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        const QFileInfo path(url.toLocalFile());
        // A folder is walked as its files are added.
        if (path.isDir() || extensions.contains(path.suffix().toLower()))
            paths << path.filePath();
    }
    if (paths.isEmpty())
        return;
    driver_->AddingFiles = true;
    pending_files_ = paths;
    WorkerThread1.Start();
    driver_->AddingFiles = false;
    event->acceptProposedAction();
}

// ---- DriverView ----

void TForm1::ShowRow(int row) {
    ListView1->scrollTo(rows_.index(row, FileListModel::Name));
}
void TForm1::SetProgressBar(int percent) {
    ProgressBar1->setValue(percent);
}
void TForm1::SetStatusText(int panel, const QString& text) {
    status_[panel]->setText(text);
}
QString TForm1::OutputFolder() const {
    return EditOutputFolder->text();
}
bool TForm1::Overwrite() const {
    return Form4->CheckBoxOverWrite->isChecked();
}

ConversionChoices TForm1::Choices() {
    PullCombosToLists();
    return {ComboOutputFormat->currentText().toStdString(), lists_, output_type_, volume_level_};
}

void TForm1::Inform(const QString& text) {
    QMessageBox::information(this, "Information", text);
}

bool TForm1::AskYesNo(const QString& text) {
    return QMessageBox::question(this, "Confirmation", text) == QMessageBox::Yes;
}

void TForm1::BrowseForFolder() {
    QFileDialog dialog(this, "Select Output Directory");
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::LookIn, "Choose the required output directory below :");
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        EditOutputFolder->setText(dialog.selectedFiles().first());
}

void TForm1::EnableAll(bool enabled) {
    for (QWidget* widget : disable_while_converting_)
        widget->setEnabled(enabled);
    Form4->setEnabled(enabled);
    setWindowTitle(enabled ? QStringLiteral("Clipwright") : QStringLiteral("0% - Clipwright"));
    // Stopping makes sense only while a batch runs.
    ButtonStopConvert->setEnabled(!enabled);
    ButtonStopSmall->setEnabled(!enabled);
}

void TForm1::BatchCompleted(const QString& summary) {
    if (!isActiveWindow())
        NotifyDesktopOf(summary);
}

void TForm1::NotifyDesktopOf(const QString& summary) {
    NotifyDesktop("Clipwright", summary);
}

} // namespace clipwright
