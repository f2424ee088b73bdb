// TForm4, "Additional Options": overwriting, the profile list's height, how many rows convert
// at once, how much of the engine's log the rows keep and whether the list is kept.
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

#include "app/main_window.h"

namespace clipwright {

namespace {
constexpr int kMostSimultaneous = 8;
}

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
    ComboSimultaneous = new QComboBox(group);
    ComboSimultaneous->setObjectName("ComboSimultaneous");
    ComboSimultaneous->addItem("Auto");
    for (int i = 1; i <= kMostSimultaneous; ++i)
        ComboSimultaneous->addItem(QString::number(i));
    ComboSimultaneous->setToolTip("Auto: as many as the processor has cores");
    ComboLogDetails = new QComboBox(group);
    ComboLogDetails->setObjectName("ComboLogDetails");
    ComboLogDetails->addItems({"Errors", "Information", "Debug"});
    ComboLogDetails->setCurrentIndex(1);
    CheckBoxKeepList = new QCheckBox("Keep the file list between sessions", group);
    CheckBoxKeepList->setObjectName("CheckBoxKeepList");
    CheckBoxKeepList->setToolTip("The files, their check marks and outcomes come back at the "
                                 "next start");
    auto* done = new QPushButton("Done", this);
    connect(done, &QPushButton::clicked, this, &QDialog::close);
    auto* grid = new QGridLayout(group);
    grid->addWidget(CheckBoxOverWrite, 0, 0, 1, 2);
    grid->addWidget(new QLabel(" Drop Down Items in Output Format List", group), 1, 0);
    grid->addWidget(SpinEdit1, 1, 1);
    grid->addWidget(new QLabel(" Simultaneous conversions", group), 2, 0);
    grid->addWidget(ComboSimultaneous, 2, 1);
    grid->addWidget(new QLabel(" Log details kept for each file", group), 3, 0);
    grid->addWidget(ComboLogDetails, 3, 1);
    grid->addWidget(CheckBoxKeepList, 4, 0, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(done, 0, Qt::AlignRight);
}

int TForm4::Simultaneous() const {
    const int chosen = ComboSimultaneous->currentIndex();
    if (chosen > 0)
        return chosen;
    return std::clamp(QThread::idealThreadCount(), 1, kMostSimultaneous);
}

TLogLevel TForm4::LogLevel() const {
    switch (ComboLogDetails->currentIndex()) {
    case 0:
        return llError;
    case 2:
        return llDebug;
    default:
        return llInfo;
    }
}

} // namespace clipwright
