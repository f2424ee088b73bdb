#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
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

#include "app/folder_scan.h"
#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
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
    connect(Form4->SpinEdit1, qOverload<int>(&QSpinBox::valueChanged), this,
            [this](int rows) { ComboOutputFormat->setMaxVisibleItems(rows); });
    connect(Form4->ComboLogDetails, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int) { engine_.SetLogLevel(Form4->LogLevel()); });
    LoadSettings();
    engine_.SetLogLevel(Form4->LogLevel());
    connect(ComboOutputFormat, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int) { ComboOutputFormatChange(); });
    ComboOutputFormatChange();
}

TForm1::~TForm1() {
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
    FileListModel::Row row;
    row.file = file;
    TAVProbe& probe = engine_.AVProbe();
    if (!probe.LoadFile(file.toStdString(), "")) {
        row.progress = "Error";
        rows_.Append(std::move(row));
        return;
    }
    TAVFileInfo info;
    probe.GetFileInfo(info);
    row.facts = DescribeSource(probe);
    row.video_size = " ";
    row.frame_rate = " ";
    if (probe.VideoStreamCount() != 0) {
        TAVVideoInfo video;
        probe.GetVideoInfo(video);
        row.video_size = QString::fromStdString(VideoSizeText(video.Width, video.Height));
        row.display_aspect = video.DisplayAspectRatio;
        const auto rate = FrameRateText(video.FrameRateNum, video.FrameRateDen);
        if (!rate) {
            row.frame_rate.clear();
            rows_.Append(std::move(row));
            throw std::runtime_error("frame rate with a zero denominator");
        }
        row.frame_rate = QString::fromStdString(*rate);
    }
    row.duration = QString::fromStdString(DurationText(info.Duration));
    row.output_type = QString::fromStdString(output_type_);
    rows_.Append(std::move(row));
    probe.CloseFile();
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
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
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

void TForm1::CheckAllItems(bool checked) {
    rows_.SetAllChecked(checked);
}

void TForm1::LoadSettings() {
    QSettings settings("Vexlane", "Clipwright");
    // The window's own values first: a first run's save below writes them all.
    LoadWindowSettings(settings);
    EditOutputFolder->setText(settings.value("Output Folder").toString());
    bool ok = settings.contains("ComboOutputFormat") && settings.contains("Overwrite") &&
              settings.contains("DropDownItems") && settings.contains("LetterBox");
    if (ok) {
        const int profile = settings.value("ComboOutputFormat").toInt();
        if (profile >= 0)
            ComboOutputFormat->setCurrentIndex(profile < ComboOutputFormat->count() ? profile : -1);
        Form4->CheckBoxOverWrite->setChecked(settings.value("Overwrite").toBool());
        const int rows = settings.value("DropDownItems").toInt();
        if (rows >= 0)
            Form4->SpinEdit1->setValue(rows);
        const int letter_box = settings.value("LetterBox").toInt();
        if (letter_box >= 0)
            ComboLetterBox->setCurrentIndex(letter_box);
    } else {
        SaveSettings(); // the first run creates the five values
    }
}

void TForm1::LoadWindowSettings(QSettings& settings) {
    // Kept apart from the five classic values, each used when it is there.
    if (const int at_once = settings.value("Simultaneous", -1).toInt();
        at_once >= 0 && at_once < Form4->ComboSimultaneous->count())
        Form4->ComboSimultaneous->setCurrentIndex(at_once);
    if (const int details = settings.value("LogDetails", -1).toInt();
        details >= 0 && details < Form4->ComboLogDetails->count())
        Form4->ComboLogDetails->setCurrentIndex(details);
    ListView1->header()->restoreState(settings.value("Columns").toByteArray());
    ListView1->header()->setSectionResizeMode(FileListModel::Name, QHeaderView::Stretch);
    // First start: a comfortable size, centred on the screen when first shown.
    centre_on_show_ = !restoreGeometry(settings.value("Geometry").toByteArray());
    if (centre_on_show_) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            resize(sizeHint().expandedTo(
                QSize(std::min(area.width(), 1000), std::min(area.height(), 700))));
        }
    }
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!centre_on_show_)
        return;
    centre_on_show_ = false;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(pos() + screen->availableGeometry().center() - frameGeometry().center());
}

void TForm1::SaveSettings() {
    QSettings settings("Vexlane", "Clipwright");
    settings.setValue("Output Folder", EditOutputFolder->text());
    settings.setValue("ComboOutputFormat", ComboOutputFormat->currentIndex());
    settings.setValue("Overwrite", Form4->CheckBoxOverWrite->isChecked());
    settings.setValue("DropDownItems", Form4->SpinEdit1->value());
    settings.setValue("LetterBox", ComboLetterBox->currentIndex());
    settings.setValue("Simultaneous", Form4->ComboSimultaneous->currentIndex());
    settings.setValue("LogDetails", Form4->ComboLogDetails->currentIndex());
    settings.setValue("Geometry", saveGeometry());
    settings.setValue("Columns", ListView1->header()->saveState());
    settings.sync();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (driver_->Converting()) {
        event->ignore();
        return;
    }
    SaveSettings();
    event->accept();
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
    // Stopping makes sense only while a batch runs.
    ButtonStopConvert->setEnabled(!enabled);
    ButtonStopSmall->setEnabled(!enabled);
}

} // namespace clipwright
