// The open dialog's filter of the file list, exactly as it reads, and its Qt form.
#include <QRegularExpression>

#include "app/main_window.h"

namespace clipwright {

namespace {

const std::pair<const char*, const char*> kFilter[] = {
    {"All Supported Files",
     "*.avi;*.mpeg;*.mpg;*.mpa;*.m1v;*.mv2;*.wma;*.wmv;*.asf;*.asx;*.mov; *.qt;*.3gp;*.3g2;*.mp3;"
     "*.mp2;*.ogg;*.aac;*.mp4;*.m4a;*.rm;*.rmvb;*.ram;*.ra;*.vob; *.dat;*.cda;*.dv; *.dif;*.wav; "
     "*.au; *.aiff;*.mjpg; *.mjpeg;*.ac3; *.gif; *.swf; *.flv"},
    {"3GPP Files (*.3gp)", "*.3gp"},
    {"3GPP2 Files (*.3g2)", "*.3g2"},
    {"AAC Files (*.aac)", "*.aac"},
    {"AC3 Files (*.ac3)", "*.ac3"},
    {"Audio CD Files (*.cda)", "*.cda"},
    {"AVI Files (*.avi)", "*.avi"},
    {"DV Video Files (*.dv, *.dif)", "*.dv;*.dif"},
    {"DVD VOB Files (*.vob)", "*.vob"},
    {"GIF Animated Files (*.gif)", "*.gif"},
    {"Macromedia Flash Files (*.flv, *.swf)", "*.flv; *.swf"},
    {"Monkey Audio Files (*.ape, *.cue)", "*.ape;*.cue"},
    {"MJpeg Video Files (*.mjpg, *.mjpeg)", "*.mjpg; *.mjpeg"},
    {"MP2 Files (*.mp2)", "*.mp2"},
    {"MP3 Files (*.mp3)", "*.mp3"},
    {"MPEG Files (*.mpeg, *.mpg, *.mpa, *.m1v, *.mv2)", "*.mpeg;*.mpg;*.mpa;*.m1v;*.mv2"},
    {"MPEG-4 Files (*.mp4)", "*.mp4"},
    {"MPEG-4 Audio Files (*.m4a, *.mp4)", "*.m4a; *.mp4"},
    {"Ogg Vorbis Files (*.ogg)", "*.ogg"},
    {"RealMedia Files (*.rm, *.rmvb, *.ram, *.ra)", "*.rm; *.rmvb; *.ram; *.ra"},
    {"QuickTime Files (*.mov, *.qt)", "*.mov; *.qt"},
    {"VCD DAT Files (*.dat)", "*.dat"},
    {"WAV Files (*.wav, *.au, *.aiff)", "*.wav; *.au; *.aiff"},
    {"Windows Media Files(*.wma, *.wmv, *.asf, *.asx)", "*.wma;*.wmv;*.asf;*.asx"},
};

QStringList Patterns(const char* patterns) {
    QStringList list;
    for (const QString& part : QString(patterns).split(';', Qt::SkipEmptyParts))
        list << part.trimmed();
    return list;
}

} // namespace

QString OpenDialogFilter() {
    QString filter;
    for (const auto& [description, patterns] : kFilter)
        filter += QString(description) + "|" + patterns + "|";
    return filter;
}

QStringList OpenDialogNameFilters() {
    QStringList filters;
    for (const auto& [description, patterns] : kFilter) {
        // Qt reads the patterns from the last parentheses, so the description's own ones go.
        QString label = QString(description);
        label.remove(QRegularExpression("\\s*\\([^)]*\\)$"));
        filters << label + " (" + Patterns(patterns).join(' ') + ")";
    }
    return filters;
}

QStringList SupportedExtensions() {
    QStringList extensions;
    for (const QString& pattern : Patterns(kFilter[0].second))
        extensions << pattern.mid(2).toLower();
    return extensions;
}

} // namespace clipwright
