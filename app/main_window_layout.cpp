// The main window's widgets, menus and their wiring.
#include "app/main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QStatusBar>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "app/profiles/program_folders.h"
#include "clipwright_version.h"

namespace clipwright {

namespace {

constexpr const char* kWebSite = "https://www.vexlane.example/clipwright";
constexpr const char* kSupportMail = "mailto:support@vexlane.example";

} // namespace

namespace {

template <class Widget> Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

} // namespace

void TForm1::BuildLayout() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(BuildFolderRow(central));
    layout->addLayout(BuildSettingsRow(central));
    PushListsToCombos();
    layout->addWidget(BuildFileList(central), 1);
    layout->addLayout(BuildButtons(central));
    ProgressBar1 = Named(new QProgressBar(central), "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
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
    counts_ = Named(new QLabel(this), "StatusCounts");
    statusBar()->addPermanentWidget(counts_);
}

QLayout* TForm1::BuildFolderRow(QWidget* central) {
    auto* folder_row = new QHBoxLayout;
    EditOutputFolder = Named(new QLineEdit(central), "EditOutputFolder");
    EditOutputFolder->setReadOnly(true);
    auto* browse = Named(new QToolButton(central), "ButtonBrowseForFolder");
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
    ComboOutputFormat = Named(new QComboBox(central), "ComboOutputFormat");
    // A list popup, which keeps to "Drop Down Items" rows; the menu-like popup of some styles
    // shows as many as the screen holds.
    ComboOutputFormat->setStyleSheet("QComboBox { combobox-popup: 0; }");
    ComboOutputFormat->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    folder_row->addWidget(new QLabel("Output Format : ", central));
    folder_row->addWidget(ComboOutputFormat, 1);
    disable_while_converting_.insert(disable_while_converting_.end(), {browse, ComboOutputFormat});
    return folder_row;
}

QComboBox* TForm1::AddListCombo(QGridLayout* grid, int row, const char* label, const char* name,
                                ProfileList* list) {
    QWidget* group = grid->parentWidget();
    auto* box = Named(new QComboBox(group), name);
    // Each profile fills other entries: the box follows them instead of keeping the width of
    // the first profile's.
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    grid->addWidget(new QLabel(label, group), row, 0);
    grid->addWidget(box, row, 1);
    combos_.emplace_back(box, list);
    disable_while_converting_.push_back(box);
    return box;
}

QLayout* TForm1::BuildSettingsRow(QWidget* central) {
    auto* video = new QGroupBox(" Video Settings ", central);
    auto* video_grid = new QGridLayout(video);
    AddListCombo(video_grid, 0, "Video Size : ", "ComboVideoSize", &lists_.ComboVideoSize);
    AddListCombo(video_grid, 1, "Video Bitrate : ", "ComboVideoBitrate", &lists_.ComboVideoBitrate);
    AddListCombo(video_grid, 2, "Video Framerate : ", "ComboVideoFramerate",
                 &lists_.ComboVideoFramerate);
    AddListCombo(video_grid, 3, "Video Codec : ", "ComboVideoCodec", &lists_.ComboVideoCodec);
    auto* audio = new QGroupBox(" Audio Settings ", central);
    auto* audio_grid = new QGridLayout(audio);
    AddListCombo(audio_grid, 0, "Audio Bitrate :", "ComboAudioBitrate", &lists_.ComboAudioBitrate);
    AddListCombo(audio_grid, 1, "Audio Channels :", "ComboAudioChannels",
                 &lists_.ComboAudioChannels);
    AddListCombo(audio_grid, 2, "Sampling Rate : ", "ComboSamplingRate", &lists_.ComboSamplingRate);
    AddListCombo(audio_grid, 3, "Audio Codec : ", "ComboAudioCodec", &lists_.ComboAudioCodec);
    auto* general = new QGroupBox(" General Settings ", central);
    auto* general_grid = new QGridLayout(general);
    ComboLetterBox = Named(new QComboBox(general), "ComboLetterBox");
    ComboLetterBox->addItems({"None", "LetterBox"});
    ComboLetterBox->setToolTip("Add a letterbox to keep video aspect ratio");
    ComboLetterBox->setToolTipDuration(30000);
    general_grid->addWidget(new QLabel("Video Zoom : ", general), 0, 0);
    general_grid->addWidget(ComboLetterBox, 0, 1);
    AddListCombo(general_grid, 1, "Aspect Ratio : ", "ComboAspectRatio", &lists_.ComboAspectRatio);
    TrackBar1 = Named(new QSlider(Qt::Horizontal, general), "TrackBar1");
    TrackBar1->setRange(0, 10);
    LabelVolume = Named(new QLabel(general), "LabelVolume");
    connect(TrackBar1, &QSlider::valueChanged, this, [this](int) { TrackBar1Change(); });
    general_grid->addWidget(new QLabel("Volume : ", general), 2, 0);
    general_grid->addWidget(TrackBar1, 2, 1);
    general_grid->addWidget(LabelVolume, 2, 2);
    disable_while_converting_.insert(disable_while_converting_.end(), {ComboLetterBox, TrackBar1});
    auto* settings_row = new QHBoxLayout;
    // Extra width is shared by the three groups alike.
    settings_row->addWidget(video, 1);
    settings_row->addWidget(audio, 1);
    settings_row->addWidget(general, 1);
    return settings_row;
}

QWidget* TForm1::BuildFileList(QWidget* central) {
    ListView1 = Named(new QTreeView(central), "ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setModel(&rows_);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setTextElideMode(Qt::ElideMiddle);
    ListView1->header()->setStretchLastSection(false);
    // The name takes what the window gives beyond the other columns.
    ListView1->header()->setSectionResizeMode(FileListModel::Name, QHeaderView::Stretch);
    FitColumns();
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView1->installEventFilter(this);
    connect(ListView1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { ShowRowDetails(); });
    connect(&rows_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                const int current = ListView1->currentIndex().row();
                if (current >= first.row() && current <= last.row())
                    ShowRowDetails();
            });
    RowDetails = Named(new QPlainTextEdit(central), "RowDetails");
    RowDetails->setReadOnly(true);
    RowDetails->setPlaceholderText("Select a file to see how its conversion went.");
    // Mnemonics of the buttons leave the menus' letters (F, O, H) to the menus.
    auto* copy = Named(new QPushButton("Cop&y", central), "ButtonCopyDetails");
    copy->setToolTip("Copy these details to the clipboard");
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(RowDetails->toPlainText()); });
    auto* details = new QWidget(central);
    auto* details_row = new QHBoxLayout(details);
    details_row->setContentsMargins(0, 0, 0, 0);
    details_row->addWidget(RowDetails, 1);
    details_row->addWidget(copy, 0, Qt::AlignTop);
    auto* split = Named(new QSplitter(Qt::Vertical, central), "ListSplitter");
    split->addWidget(ListView1);
    split->addWidget(details);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    return split;
}

QLayout* TForm1::BuildButtons(QWidget* central) {
    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* caption, const char* name, const char* hint) {
        auto* b = Named(new QPushButton(caption, central), name);
        if (hint != nullptr) {
            b->setToolTip(hint);
            b->setToolTipDuration(30000);
        }
        buttons->addWidget(b);
        return b;
    };
    auto* add = button("&Add Files", "ButtonAddFile", "Add Files to Convert");
    auto* convert = button("&Convert Now !", "ButtonConvert", "Start Conversion");
    ButtonStopConvert = button("S&top Convert", "ButtonStopConvert", "Stop Conversion");
    ButtonStopSmall = button("Sto&p", "ButtonStopSmall", nullptr);
    auto* remove = button("&Remove", "ButtonRemove", "Remove A Single File From List");
    auto* clear = button("C&lear All ", "ButtonClearAll", "Clear All Files Listed");
    auto* open = button("Open O&utput Folder", "ButtonOpenFolder", "Show the converted files");
    ButtonStopConvert->setEnabled(false);
    ButtonStopSmall->setEnabled(false);
    connect(open, &QPushButton::clicked, this, [this] { OpenOutputFolder(); });
    connect(add, &QPushButton::clicked, this, [this] { ButtonAddFileClick(); });
    connect(convert, &QPushButton::clicked, this, [this] { driver_->ButtonConvertClick(); });
    connect(ButtonStopConvert, &QPushButton::clicked, this,
            [this] { driver_->ButtonStopConvertClick(); });
    connect(ButtonStopSmall, &QPushButton::clicked, ButtonStopConvert, &QPushButton::click);
    connect(remove, &QPushButton::clicked, this, [this] { DeleteSelectedItem1Click(); });
    connect(clear, &QPushButton::clicked, this, [this] { ClearAllItems1Click(); });
    disable_while_converting_.insert(disable_while_converting_.end(),
                                     {add, convert, remove, clear});
    return buttons;
}

void TForm1::BuildMenus() {
    // An entry of the main menu, found by tests through its name.
    const auto entry = [this](QMenu* menu, const char* text, const char* name,
                              const QList<QKeySequence>& keys, auto&& command) {
        QAction* action = menu->addAction(text, this, command);
        action->setObjectName(name);
        action->setShortcuts(keys);
        return action;
    };
    QMenu* file = menuBar()->addMenu("&File");
    entry(file, "&Add Files", "ActionAddFiles", {QKeySequence("Ctrl+O")},
          [this] { ButtonAddFileClick(); });
    entry(file, "Add F&older", "ActionAddFolder", {QKeySequence("Ctrl+Shift+O")},
          [this] { AddFolderClick(); });
    file->addSeparator();
    entry(file, "&Convert", "ActionConvert", {QKeySequence("F5"), QKeySequence("Ctrl+Return")},
          [this] { driver_->ButtonConvertClick(); });
    entry(file, "Open Output Fol&der", "ActionOpenFolder", {}, [this] { OpenOutputFolder(); });
    file->addSeparator();
    // Through the window's close, like its title bar's button: the settings are saved.
    entry(file, "E&xit", "ActionExit", {QKeySequence("Ctrl+Q")}, [this] { close(); });
    QMenu* options = menuBar()->addMenu("&Options");
    entry(options, "Set &Additional Options", "ActionOptions", {}, [this] { Form4->show(); });
    QMenu* help = menuBar()->addMenu("&Help");
    entry(help, "Open &Help File", "ActionHelp", {QKeySequence("F1")}, [this] { OpenHelpFile(); });
    help->addSeparator();
    entry(help, "&Visit Vexlane Website", "ActionWebSite", {}, [this] { OpenUrl(QUrl(kWebSite)); });
    help->addSeparator();
    entry(help, "A&bout", "ActionAbout", {}, [this] {
        QMessageBox about(this);
        about.setWindowTitle("About");
        about.setTextFormat(Qt::RichText);
        about.setText(QString("<b>Clipwright %3</b><br><a href=\"%1\">%1</a><br>"
                              "<a href=\"%2\">Contact Support Department</a>")
                          .arg(kWebSite, kSupportMail, CLIPWRIGHT_VERSION));
        about.setStandardButtons(QMessageBox::Ok);
        about.exec();
    });
    // Stopping stays within reach while the menus are off during a batch.
    auto* stop = new QAction(this);
    stop->setObjectName("ActionStop");
    stop->setShortcuts({QKeySequence(Qt::Key_Escape), QKeySequence("Ctrl+.")});
    connect(stop, &QAction::triggered, this, [this] {
        if (ButtonStopConvert->isEnabled())
            ButtonStopConvert->click();
    });
    addAction(stop);

    PopupListView1 = new QMenu(this);
    PopupListView1->setObjectName("PopupListView1");
    PopupListView1->addAction("Add Folder", this, [this] { AddFolderClick(); });
    PopupListView1->addSeparator();
    PopupListView1->addAction("Check All Items", this, [this] { CheckAllItems(true); });
    PopupListView1->addAction("Uncheck All Items", this, [this] { CheckAllItems(false); });
    PopupListView1->addSeparator();
    PopupListView1->addAction("Remove Selected Item", this, [this] { DeleteSelectedItem1Click(); });
    PopupListView1->addAction("Clear All Items", this, [this] { ClearAllItems1Click(); });
    PopupListView1->addSeparator();
    PopupListView1->addAction("Open Output Folder", this, [this] { OpenOutputFolder(); });
    // The list stays usable during a batch; its menu does not.
    connect(ListView1, &QTreeView::customContextMenuRequested, this, [this](const QPoint& at) {
        if (!driver_->BatchRunning())
            PopupListView1->popup(ListView1->mapToGlobal(at));
    });
    disable_while_converting_.push_back(menuBar());
}

} // namespace clipwright

namespace clipwright {

void TForm1::FitColumns() {
    // The classic widths, widened where the font needs more for the texts the columns show
    // (samples apart by blanks).
    const std::pair<int, const char*> columns[FileListModel::ColumnCount] = {
        {300, "Video File Name"},
        {90, "1920x1080"},
        {90, "29.97"},
        {60, "00:00:00 Unknown"},
        {65, "WMA"},
        {57, "Abort Interrupted"},
        {60, "99999"}};
    const QFontMetrics metrics(ListView1->font());
    const QFontMetrics header(ListView1->header()->font());
    for (int i = 0; i < FileListModel::ColumnCount; ++i) {
        const QString caption = rows_.headerData(i, Qt::Horizontal).toString();
        int text = header.horizontalAdvance(caption);
        for (const QString& sample : QString(columns[i].second).split(' '))
            text = std::max(text, metrics.horizontalAdvance(sample));
        ListView1->setColumnWidth(i, std::max(columns[i].first, text + 16));
    }
}

} // namespace clipwright
