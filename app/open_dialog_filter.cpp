// The open dialog's filter of the file list, its classic entries first as they read, and its Qt
// form.
#include <QRegularExpression>

#include "app/main_window.h"

namespace clipwright {

namespace {

const std::pair<const char*, const char*> kFilter[] = {
    {"All Supported Files",
     "*.avi;*.mpeg;*.mpg;*.mpa;*.m1v;*.mv2;*.wma;*.wmv;*.asf;*.asx;*.mov; *.qt;*.3gp;*.3g2;*.mp3;"
     "*.mp2;*.ogg;*.aac;*.mp4;*.m4a;*.rm;*.rmvb;*.ram;*.ra;*.vob; *.dat;*.cda;*.dv; *.dif;*.wav; "
     "*.au; *.aiff;*.mjpg; *.mjpeg;*.ac3; *.gif; *.swf; *.flv"
     // Appended, the classic text unchanged before them: the Monkey Audio entry's and the later
     // entries' formats, which the library reads as well.
     ";*.ape;*.mkv;*.mka;*.mk3d;*.webm;*.ogv;*.oga;*.opus;*.flac;*.mxf;*.ts;*.m2ts;*.mts;*.m4v;"
     "*.m4b;*.f4v;*.divx;*.aif;*.aifc;*.caf;*.wv;*.w64;*.amr;*.awb;*.dts;*.eac3;*.tta;*.y4m;*.nut"},
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
    {"Matroska and WebM Files (*.mkv, *.mka, *.mk3d, *.webm)", "*.mkv;*.mka;*.mk3d;*.webm"},
    {"Ogg Video and Audio Files (*.ogv, *.oga, *.opus)", "*.ogv;*.oga;*.opus"},
    {"FLAC Files (*.flac)", "*.flac"},
    {"MXF Files (*.mxf)", "*.mxf"},
    {"MPEG Transport Stream Files (*.ts, *.m2ts, *.mts)", "*.ts;*.m2ts;*.mts"},
    {"MPEG-4 Video Files (*.m4v, *.f4v)", "*.m4v;*.f4v"},
    {"MPEG-4 Audiobook Files (*.m4b)", "*.m4b"},
    {"DivX Files (*.divx)", "*.divx"},
    {"AIFF and CAF Files (*.aif, *.aifc, *.caf)", "*.aif;*.aifc;*.caf"},
    {"WavPack Files (*.wv)", "*.wv"},
    {"Wave64 Files (*.w64)", "*.w64"},
    {"AMR Files (*.amr, *.awb)", "*.amr;*.awb"},
    {"DTS and E-AC3 Files (*.dts, *.eac3)", "*.dts;*.eac3"},
    {"TTA Files (*.tta)", "*.tta"},
    {"YUV4MPEG Files (*.y4m)", "*.y4m"},
    {"NUT Files (*.nut)", "*.nut"},
    {"All Files (*)", "*"},
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
