// What the window keeps between sessions: the classic five values and the window's own through
// QSettings("Vexlane", "Clipwright"), the list choices of the current profile, the window's
// place, and the file list when the user asked for it to be kept.
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSettings>

#include <algorithm>
#include <exception>

#include "app/file_list_store.h"
#include "app/main_window.h"

namespace clipwright {

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
    Form4->CheckBoxKeepList->setChecked(settings.value("KeepList", false).toBool());
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

void TForm1::RestoreListChoices() {
    const QSettings settings("Vexlane", "Clipwright");
    for (auto& [box, list] : combos_) {
        const int saved = box->findText(settings.value("Lists/" + box->objectName()).toString());
        if (saved >= 0)
            box->setCurrentIndex(saved);
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
    settings.setValue("KeepList", Form4->CheckBoxKeepList->isChecked());
    for (const auto& [box, list] : combos_)
        settings.setValue("Lists/" + box->objectName(), box->currentText());
    // Not before the window has its place: a first start that ends early would otherwise open
    // the next one in a corner of the screen.
    if (!centre_on_show_)
        settings.setValue("Geometry", saveGeometry());
    settings.setValue("Columns", ListView1->header()->saveState());
    settings.sync();
}

void TForm1::RestoreKeptList() {
    for (const KeptRow& kept : ReadKeptList(KeptListPath())) {
        // Probed again: the file may have changed or gone since (then it reads "Error").
        const int row = rows_.Count();
        try {
            AddFileRow(kept.file);
        } catch (const std::exception&) {
        }
        if (row >= rows_.Count())
            continue;
        rows_.SetChecked(row, kept.checked);
        if (!rows_.At(row).progress.isEmpty() || kept.outcome.isEmpty())
            continue;
        rows_.SetOutcome(row, kept.outcome, kept.reason);
        if (kept.outcome == kInterrupted)
            rows_.AppendLog(row, QString(kInterrupted) + ": " + kept.reason, false);
    }
}

void TForm1::KeepListNow() {
    keep_timer_.stop();
    if (Form4->CheckBoxKeepList->isChecked())
        KeepFileList(rows_, KeptListPath());
}

} // namespace clipwright
