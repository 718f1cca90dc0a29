// SPDX-License-Identifier: GPL-3.0-or-later
#include "main_window/form1.h"

#include "main_window/cursor_blink.h"
#include "main_window/picture.h"
#include "main_window/skin_layout.h"
#include "playback/playback_session.h"
#include "station_data/station_directory.h"
#include "widgets/window_look.h"

#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QImageReader>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>

namespace {

const QColor kLabelGreen(0, 255, 0);

// Gives a control its name as its object name.
template <class Control> Control *Named(Control *control, const char *name) {
    control->setObjectName(QLatin1StringView(name));
    return control;
}

// A label of the surface: green text on the skin, aligned to the top left so
// that a text of several lines starts with its first.
Picture *MakeLabel(QWidget *parent, const char *name, const QRect &place) {
    auto *label = Named(new Picture(parent), name);
    label->setGeometry(place);
    label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kLabelGreen);
    label->setPalette(palette);
    return label;
}

// A picture of the program's own, read by the format its name ends in. Qt
// would otherwise first ask every image format plugin whether it reads the
// picture, loading them all (and the libraries they bring) to read a BMP.
QPixmap OwnPicture(const QString &path) {
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

Picture *MakeFace(QWidget *parent, const char *name, const QRect &place, const QString &picture) {
    auto *face = Named(new Picture(parent), name);
    face->setGeometry(place);
    face->setPixmap(OwnPicture(QStringLiteral(":/skin/") + picture));
    return face;
}

// The channel-ID box. Focus that arrives by the keyboard leaves the text
// unselected, so that typed characters are added to it.
class ChannelIdBox final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent *event) override {
        QLineEdit::focusInEvent(event);
        const Qt::FocusReason reason = event->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
            reason == Qt::ShortcutFocusReason) {
            deselect();
        }
    }
};

QTimer *MakeTimer(QObject *parent, const char *name, int intervalMs) {
    auto *timer = Named(new QTimer(parent), name);
    timer->setInterval(intervalMs);
    timer->start();
    return timer;
}

} // namespace

Form1::Form1(platform::Platform &platform, StationDirectory &directory, PlaybackSession &session,
             QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), platform_(platform),
      directory_(directory), session_(session) {
    createControls();
    connectHandlers();
    connectCores();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::createControls() {
    // The pictures live in this library; naming them keeps the linker from
    // dropping them.
    Q_INIT_RESOURCE(skin);
    Q_INIT_RESOURCE(resources);
    setWindowTitle(platform::kApplicationTitle);
    QIcon icon;
    for (const char *size : {"48", "128"}) {
        icon.addPixmap(OwnPicture(QStringLiteral(":/icons/quorvel-%1.png").arg(size)));
    }
    setWindowIcon(icon);
    setFixedSize(skin::kClientSize);
    setFont(SongTypeface(kWindowSongPixels)); // the texts without a font of their own
    CentreOnScreen(*this);

    Timer2 = MakeTimer(this, "Timer2", 1000);
    Timer3 = MakeTimer(this, "Timer3", 10000);
    Timer1 = MakeTimer(this, "Timer1", 800);
    createSurface();
    createChildWindows();

    setTabOrder(Text1, Slider1);
    setTabOrder(Slider1, ListView1);
    describeToAssistiveTechnology();
    Text1->setFocus(); // where the focus is when the window is first shown
    new CursorBlinkTimeout(this);
}

// The surface's pictures and labels, created from the bottom of the stack up.
void Form1::createSurface() {
    Image1 =
        MakeFace(this, "Image1", {{0, 0}, skin::kBackgroundSize}, QStringLiteral("background.jpg"));
    const QRect idPlay(skin::kIdPlayPlace, skin::kWideFaceSize);
    const QRect quickSearch(skin::kQuickSearchPlace, skin::kWideFaceSize);
    const QRect about(skin::kAboutPlace, skin::kWideFaceSize);
    const QRect fetch(skin::kFetchPlace, skin::kWideFaceSize);
    const QRect close(skin::kClosePlace, skin::kWindowFaceSize);
    const QRect playStop(skin::kPlayStopPlace, skin::kWideFaceSize);
    const QRect minimise(skin::kMinimisePlace, skin::kWindowFaceSize);
    Image3 = MakeFace(this, "Image3", idPlay, QStringLiteral("id_play_hot.bmp"));
    Image5 = MakeFace(this, "Image5", quickSearch, QStringLiteral("quick_search_hot.bmp"));
    Image7 = MakeFace(this, "Image7", about, QStringLiteral("about_hot.bmp"));
    Image10 = MakeFace(this, "Image10", fetch, QStringLiteral("fetch_hot.bmp"));
    Image11 = MakeFace(this, "Image11", fetch, QStringLiteral("fetch.bmp"));
    Image2 = MakeFace(this, "Image2", idPlay, QStringLiteral("id_play.bmp"));
    Image4 = MakeFace(this, "Image4", quickSearch, QStringLiteral("quick_search.bmp"));
    Image6 = MakeFace(this, "Image6", about, QStringLiteral("about.bmp"));
    Image13 = MakeFace(this, "Image13", close, QStringLiteral("close_hot.bmp"));
    Image12 = MakeFace(this, "Image12", close, QStringLiteral("close.bmp"));
    Image9 = MakeFace(this, "Image9", playStop, QStringLiteral("play_stop_hot.bmp"));
    Image8 = MakeFace(this, "Image8", playStop, QStringLiteral("play_stop.bmp"));
    Image14 = MakeFace(this, "Image14", minimise, QStringLiteral("minimise_hot.bmp"));
    Image15 = MakeFace(this, "Image15", minimise, QStringLiteral("minimise.bmp"));
    Label2 = MakeLabel(this, "Label2", {520, 448, 105, 17});
    Label3 = MakeLabel(this, "Label3", {5, 448, 73, 17});
    Label4 = MakeLabel(this, "Label4", {80, 448, 425, 17});
    Label1 = MakeLabel(this, "Label1", {5, 8, 84, 14});
    Label1->setFont(SongTypeface(kSongPixels));
    Label1->setText(platform::kApplicationTitle);
    Label1->adjustSize();
    Image11->setEnabled(false);
}

// The child windows, above every picture and label.
void Form1::createChildWindows() {
    ListView1 = Named(new QTreeView(this), "ListView1");
    ListView1->setGeometry(skin::kTableArea);
    ListView1->viewport()->setMouseTracking(true);
    ListView1->viewport()->installEventFilter(this);

    Text1 = Named(new ChannelIdBox(this), "Text1");
    Text1->setGeometry(113, 8, 49, 12);
    Text1->setFrame(false);
    Text1->setTextMargins(0, 0, 0, 0);
    Text1->setToolTip(QStringLiteral("根据频道ID 快速播放"));
    QPalette textPalette = Text1->palette();
    textPalette.setColor(QPalette::Base, Qt::white);
    Text1->setPalette(textPalette);
    showInText1(kText1Placeholder, kText1Silver);
    Text1->installEventFilter(this);

    Slider1 = Named(new QScrollBar(Qt::Horizontal, this), "Slider1");
    Slider1->setGeometry(skin::kVolumeArea);
    Slider1->setRange(0, 100);
    Slider1->setSingleStep(5);
    Slider1->setPageStep(5);
    Slider1->setFocusPolicy(Qt::StrongFocus);
    Slider1->setInvertedControls(false); // the arrow keys move the bar the way they point

    Frame1 = Named(new QGroupBox(QStringLiteral("Frame1"), this), "Frame1");
    Frame1->setGeometry(296, 80, 233, 177);
    Frame1->hide();
    List1 = Named(new QListView(Frame1), "List1");
    List1->setGeometry(208, 96, 33, 40);
    List1->setModel(directory_.lineModel());
}

void Form1::connectHandlers() {
    for (Picture *handle : {Image1, Label1}) {
        connect(handle, &Picture::mousePressed, this,
                [this](int, float x, float y) { DragHandle_MouseDown(x, y); });
        connect(handle, &Picture::mouseMoved, this, &Form1::DragHandle_MouseMove);
        connect(handle, &Picture::mouseReleased, this, [this] { DragHandle_MouseUp(); });
    }
    for (Picture *face : {Image2, Image4, Image6, Image8, Image11}) {
        connect(face, &Picture::mouseMoved, this, [this, face] { GroupA_MouseMove(face); });
    }
    for (Picture *face : {Image12, Image15}) {
        connect(face, &Picture::mouseMoved, this, [this, face] { GroupB_MouseMove(face); });
    }
    connect(Image10, &Picture::clicked, this, &Form1::FetchChannels);
    connect(Image3, &Picture::clicked, this, &Form1::Image3_Click);
    connect(Image5, &Picture::clicked, this, &Form1::Image5_Click);
    connect(Image9, &Picture::clicked, this, &Form1::Image9_Click);
    connect(Slider1, &QScrollBar::sliderMoved, this, &Form1::Slider1_Scroll);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    connect(Image13, &Picture::clicked, this, &Form1::Image13_Click);
    connect(Image14, &Picture::clicked, this, &Form1::Image14_Click);
    connect(Image7, &Picture::clicked, this, &Form1::Image7_Click);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
}
