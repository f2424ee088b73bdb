#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdlib>
#include <exception>
#include <stdexcept>

#include "app/profiles/builders.h"
#include "app/profiles/catalogue.h"
#include "app/profiles/list_texts.h"
#include "app/profiles/program_folders.h"

namespace clipwright {

namespace {

constexpr const char* kWebSite = "https://www.vexlane.example/clipwright";
constexpr const char* kSupportMail = "mailto:support@vexlane.example";

} // namespace

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
    setObjectName("Form4");
    setWindowTitle("Additional Options");
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
    auto* group = new QGroupBox(" Additional Options ", this);
    CheckBoxOverWrite = new QCheckBox("Overwrite Existing File With The Same Name", group);
    CheckBoxOverWrite->setObjectName("CheckBoxOverWrite");
    SpinEdit1 = new QSpinBox(group);
    SpinEdit1->setObjectName("SpinEdit1");
    SpinEdit1->setRange(26, 47);
    SpinEdit1->setValue(27);
    auto* done = new QPushButton("Done", this);
    connect(done, &QPushButton::clicked, this, &QDialog::close);
    auto* grid = new QGridLayout(group);
    grid->addWidget(CheckBoxOverWrite, 0, 0, 1, 2);
    grid->addWidget(new QLabel(" Drop Down Items in Output Format List", group), 1, 0);
    grid->addWidget(SpinEdit1, 1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(done, 0, Qt::AlignRight);
}

TForm1::TForm1() {
    setObjectName("Form1");
    setWindowTitle("Clipwright");
    setAcceptDrops(true);
    BuildLayout();
    BuildMenus();
    driver_ = std::make_unique<ConversionDriver>(engine_, rows_, *this);

    // Engine events come on worker threads: copy and post to the window, return at once.
    engine_.OnProgress = [this](int32_t index, int32_t frame, int32_t fps, int32_t current, float,
                                float, int64_t size, int32_t total) {
        QMetaObject::invokeMethod(
            this,
            [this, index, frame, fps, current, size, total] {
                driver_->EngineProgress(index, frame, fps, current, size, total);
            },
            Qt::QueuedConnection);
    };
    engine_.OnTerminate = [this](int32_t index, bool finished, bool exception,
                                 const std::string& message) {
        QMetaObject::invokeMethod(
            this,
            [this, index, finished, exception, message] {
                driver_->EngineTerminate(index, finished, exception, message);
            },
            Qt::QueuedConnection);
    };

    if (!engine_.LoadAVLib(LibraryFolder(), true)) {
        Inform("Some files are missing. Please re-install this software");
        return;
    }
    started_ = true;
    TrackBar1->setValue(5);
    TrackBar1Change();
    for (const std::string& entry : ProfileListEntries())
        ComboOutputFormat->addItem(QString::fromStdString(entry));
    ComboOutputFormat->setMaxVisibleItems(25);
    ComboOutputFormat->setCurrentIndex(0);

    WorkerThread1.OnStart = [this](TWorkerThread*, TWorkerExecuteThread*, void*&) {
        AddFiles(pending_files_);
    };
    Form4 = new TForm4(this);
    connect(Form4->SpinEdit1, qOverload<int>(&QSpinBox::valueChanged), this,
            [this](int rows) { ComboOutputFormat->setMaxVisibleItems(rows); });
    LoadSettings();
    connect(ComboOutputFormat, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int) { ComboOutputFormatChange(); });
    ComboOutputFormatChange();
}

TForm1::~TForm1() {
    engine_.OnProgress = nullptr;
    engine_.OnTerminate = nullptr;
    engine_.Stop();
    engine_.ClearTasks();
}

void TForm1::BuildLayout() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto named = [](auto* widget, const char* name) {
        widget->setObjectName(name);
        return widget;
    };

    auto* folder_row = new QHBoxLayout;
    EditOutputFolder = named(new QLineEdit(central), "EditOutputFolder");
    EditOutputFolder->setReadOnly(true);
    auto* browse = named(new QToolButton(central), "ButtonBrowseForFolder");
    browse->setText("...");
    browse->setToolTip("Browse For Folder");
    browse->setToolTipDuration(30000);
    connect(browse, &QToolButton::clicked, this, [this] {
        if (!driver_->Converting())
            BrowseForFolder();
    });
    folder_row->addWidget(new QLabel("Output Folder : ", central));
    folder_row->addWidget(EditOutputFolder, 1);
    folder_row->addWidget(browse);
    ComboOutputFormat = named(new QComboBox(central), "ComboOutputFormat");
    folder_row->addWidget(new QLabel("Output Format : ", central));
    folder_row->addWidget(ComboOutputFormat, 1);
    layout->addLayout(folder_row);

    auto combo = [&](QGroupBox* group, QGridLayout* grid, int row, const char* label,
                     const char* name, ProfileList* list) {
        auto* box = named(new QComboBox(group), name);
        grid->addWidget(new QLabel(label, group), row, 0);
        grid->addWidget(box, row, 1);
        combos_.emplace_back(box, list);
        disable_while_converting_.push_back(box);
        return box;
    };
    auto* settings_row = new QHBoxLayout;
    auto* video = new QGroupBox(" Video Settings ", central);
    auto* video_grid = new QGridLayout(video);
    combo(video, video_grid, 0, "Video Size : ", "ComboVideoSize", &lists_.ComboVideoSize);
    combo(video, video_grid, 1, "Video Bitrate : ", "ComboVideoBitrate", &lists_.ComboVideoBitrate);
    combo(video, video_grid, 2, "Video Framerate : ", "ComboVideoFramerate",
          &lists_.ComboVideoFramerate);
    combo(video, video_grid, 3, "Video Codec : ", "ComboVideoCodec", &lists_.ComboVideoCodec);
    auto* audio = new QGroupBox(" Audio Settings ", central);
    auto* audio_grid = new QGridLayout(audio);
    combo(audio, audio_grid, 0, "Audio Bitrate :", "ComboAudioBitrate", &lists_.ComboAudioBitrate);
    combo(audio, audio_grid, 1, "Audio Channels :", "ComboAudioChannels",
          &lists_.ComboAudioChannels);
    combo(audio, audio_grid, 2, "Sampling Rate : ", "ComboSamplingRate", &lists_.ComboSamplingRate);
    combo(audio, audio_grid, 3, "Audio Codec : ", "ComboAudioCodec", &lists_.ComboAudioCodec);
    auto* general = new QGroupBox(" General Settings ", central);
    auto* general_grid = new QGridLayout(general);
    ComboLetterBox = named(new QComboBox(general), "ComboLetterBox");
    ComboLetterBox->addItems({"None", "LetterBox"});
    ComboLetterBox->setToolTip("Add a letterbox to keep video aspect ratio");
    ComboLetterBox->setToolTipDuration(30000);
    general_grid->addWidget(new QLabel("Video Zoom : ", general), 0, 0);
    general_grid->addWidget(ComboLetterBox, 0, 1);
    combo(general, general_grid, 1, "Aspect Ratio : ", "ComboAspectRatio",
          &lists_.ComboAspectRatio);
    TrackBar1 = named(new QSlider(Qt::Horizontal, general), "TrackBar1");
    TrackBar1->setRange(0, 10);
    LabelVolume = named(new QLabel(general), "LabelVolume");
    connect(TrackBar1, &QSlider::valueChanged, this, [this](int) { TrackBar1Change(); });
    general_grid->addWidget(new QLabel("Volume : ", general), 2, 0);
    general_grid->addWidget(TrackBar1, 2, 1);
    general_grid->addWidget(LabelVolume, 2, 2);
    settings_row->addWidget(video);
    settings_row->addWidget(audio);
    settings_row->addWidget(general);
    layout->addLayout(settings_row);
    PushListsToCombos();

    ListView1 = named(new QTreeView(central), "ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setModel(&rows_);
    const int column_widths[FileListModel::ColumnCount] = {300, 90, 90, 60, 65, 57, 60};
    for (int i = 0; i < FileListModel::ColumnCount; ++i)
        ListView1->setColumnWidth(i, column_widths[i]);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(ListView1, 1);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* caption, const char* name, const char* hint) {
        auto* b = named(new QPushButton(caption, central), name);
        if (hint != nullptr) {
            b->setToolTip(hint);
            b->setToolTipDuration(30000);
        }
        buttons->addWidget(b);
        return b;
    };
    auto* add = button("Add Files", "ButtonAddFile", "Add Files to Convert");
    auto* convert = button("Convert Now !", "ButtonConvert", "Start Conversion");
    auto* stop = button("Stop Convert", "ButtonStopConvert", "Stop Conversion");
    auto* stop_small = button("Stop", "ButtonStopSmall", nullptr);
    auto* remove = button("Remove", "ButtonRemove", "Remove A Single File From List");
    auto* clear = button("Clear All ", "ButtonClearAll", "Clear All Files Listed");
    connect(add, &QPushButton::clicked, this, [this] { ButtonAddFileClick(); });
    connect(convert, &QPushButton::clicked, this, [this] { driver_->ButtonConvertClick(); });
    connect(stop, &QPushButton::clicked, this, [this] { driver_->ButtonStopConvertClick(); });
    connect(stop_small, &QPushButton::clicked, stop, &QPushButton::click);
    connect(remove, &QPushButton::clicked, this, [this] { DeleteSelectedItem1Click(); });
    connect(clear, &QPushButton::clicked, this, [this] { ClearAllItems1Click(); });
    disable_while_converting_.insert(disable_while_converting_.end(),
                                     {add, convert, remove, clear, ComboOutputFormat, browse,
                                      ComboLetterBox, TrackBar1, ListView1});
    ProgressBar1 = named(new QProgressBar(central), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    layout->addLayout(buttons);
    layout->addWidget(ProgressBar1);
    setCentralWidget(central);

    const int widths[] = {150, 300, 50};
    for (int i = 0; i < 3; ++i) {
        status_[i] = new QLabel(this);
        status_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        status_[i]->setMinimumWidth(widths[i]);
        statusBar()->addWidget(status_[i], i == 1 ? 1 : 0);
    }
    statusBar()->setObjectName("StatusBar1");
    status_[0]->setText("Ready");
}

void TForm1::BuildMenus() {
    QMenu* file = menuBar()->addMenu("File");
    file->addAction("Add Files", this, [this] { ButtonAddFileClick(); });
    file->addSeparator();
    file->addAction("Convert", this, [this] { driver_->ButtonConvertClick(); });
    file->addSeparator();
    // At once and without the close handling (nothing saved), but through the event loop so
    // the destructors join the engine's threads.
    file->addAction("Exit", this, [] { QCoreApplication::exit(0); });
    QMenu* options = menuBar()->addMenu("Options");
    options->addAction("Set Additional Options", this, [this] { Form4->show(); });
    QMenu* help = menuBar()->addMenu("Help");
    help->addAction("Open Help File", this, [] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QString::fromStdString(HelpFolder() + "/index.html")));
    });
    help->addSeparator();
    help->addAction("Visit Vexlane Website", this,
                    [] { QDesktopServices::openUrl(QUrl(kWebSite)); });
    help->addSeparator();
    help->addAction("About", this, [this] {
        QMessageBox about(this);
        about.setWindowTitle("About");
        about.setTextFormat(Qt::RichText);
        about.setText(QString("<b>Clipwright 4.0</b><br><a href=\"%1\">%1</a><br>"
                              "<a href=\"%2\">Contact Support Department</a>")
                          .arg(kWebSite, kSupportMail));
        about.setStandardButtons(QMessageBox::Ok);
        about.exec();
    });

    PopupListView1 = new QMenu(this);
    PopupListView1->setObjectName("PopupListView1");
    PopupListView1->addAction("Check All Items", this, [this] { CheckAllItems(true); });
    PopupListView1->addAction("Uncheck All Items", this, [this] { CheckAllItems(false); });
    PopupListView1->addSeparator();
    PopupListView1->addAction("Remove Selected Item", this, [this] { DeleteSelectedItem1Click(); });
    PopupListView1->addAction("Clear All Items", this, [this] { ClearAllItems1Click(); });
    connect(ListView1, &QTreeView::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupListView1->popup(ListView1->mapToGlobal(at)); });
    disable_while_converting_.push_back(menuBar());
}

void TForm1::PushListsToCombos() {
    for (auto& [box, list] : combos_) {
        const QSignalBlocker quiet(box);
        box->clear();
        for (const std::string& item : list->Items)
            box->addItem(QString::fromStdString(item));
        box->setCurrentIndex(list->ItemIndex);
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
    row.video_size = " ";
    row.frame_rate = " ";
    if (probe.VideoStreamCount() != 0) {
        TAVVideoInfo video;
        probe.GetVideoInfo(video);
        row.video_size = QString::fromStdString(VideoSizeText(video.Width, video.Height));
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

void TForm1::AddFiles(const QStringList& files) {
    try {
        for (const QString& file : files) {
            AddFileRow(file);
            ListView1->scrollTo(rows_.index(rows_.Count() - 1, FileListModel::Name));
            QCoreApplication::processEvents();
        }
    } catch (const std::exception&) {
        // The rows added so far stay; the rest is dropped without a message.
    }
}

void TForm1::ButtonAddFileClick() {
    if (driver_->Converting())
        return;
    engine_.ClearTasks();
    rows_.ClearProgress();
    driver_->AddingFiles = true;
    pending_files_ = QFileDialog::getOpenFileNames(this, QString(), QString(),
                                                   OpenDialogNameFilters().join(";;"));
    try {
        if (!pending_files_.isEmpty())
            WorkerThread1.Start();
    } catch (...) {
    }
    driver_->AddingFiles = false;
}

void TForm1::DeleteSelectedItem1Click() {
    if (driver_->AddingFiles)
        return;
    rows_.Remove(ListView1->currentIndex().row());
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

void TForm1::SaveSettings() {
    QSettings settings("Vexlane", "Clipwright");
    settings.setValue("Output Folder", EditOutputFolder->text());
    settings.setValue("ComboOutputFormat", ComboOutputFormat->currentIndex());
    settings.setValue("Overwrite", Form4->CheckBoxOverWrite->isChecked());
    settings.setValue("DropDownItems", Form4->SpinEdit1->value());
    settings.setValue("LetterBox", ComboLetterBox->currentIndex());
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
    if (event->mimeData()->hasUrls() && !driver_->Converting())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QStringList extensions = SupportedExtensions();
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls()) {
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isDir()) {
            QDirIterator walk(path, QDir::Files, QDirIterator::Subdirectories);
            QStringList found;
            while (walk.hasNext()) {
                const QString file = walk.next();
                if (extensions.contains(QFileInfo(file).suffix().toLower()))
                    found << file;
            }
            found.sort();
            files << found;
        } else if (extensions.contains(QFileInfo(path).suffix().toLower())) {
            files << path;
        }
    }
    if (files.isEmpty())
        return;
    driver_->AddingFiles = true;
    pending_files_ = files;
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
}

} // namespace clipwright
