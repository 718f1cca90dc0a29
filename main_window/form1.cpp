#include "main_window/form1.h"

#include "main_window/cursor_blink.h"
#include "main_window/list_box.h"
#include "main_window/picture.h"
#include "main_window/skin_layout.h"

#include <QFileInfo>
#include <QFocusEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImageReader>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>

namespace {

const QColor kLabelGreen(0, 255, 0);

// 宋体 with the GB2312 character set, at a size in pixels (at 96 dots per inch
// 10.5 pt is 14 pixels, 9 pt 12). Where it is missing, AR PL SungtiL GB stands
// in: a Song face of the same character set, Latin letters included, in one
// small file that also serves bold (drawn from the regular face), so the
// window maps a single small CJK font. The Noto CJK faces draw what it lacks.
QFont SongTypeface(int pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(pixelSize);
    return font;
}

constexpr int kSongPixels = 14;       // 10.5 pt: the title and the station table
constexpr int kWindowSongPixels = 12; // 9 pt: every other text of the window

Picture *MakeLabel(QWidget *parent, const QRect &place) {
    auto *label = new Picture(parent);
    label->setGeometry(place);
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

Picture *MakeFace(QWidget *parent, const QRect &place, const QString &picture) {
    auto *face = new Picture(parent);
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

QTimer *MakeTimer(QObject *parent, int intervalMs) {
    auto *timer = new QTimer(parent);
    timer->setInterval(intervalMs);
    timer->start();
    return timer;
}

} // namespace

Form1::Form1(platform::Platform &platform, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), platform_(platform) {
    createControls();
    connectHandlers();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::createControls() {
    // The pictures live in this library; naming them keeps the linker from
    // dropping them.
    Q_INIT_RESOURCE(skin);
    Q_INIT_RESOURCE(resources);
    setWindowTitle(platform::kApplicationTitle);
    setWindowIcon(QIcon(OwnPicture(QStringLiteral(":/icons/quorvel-128.png"))));
    setFixedSize(skin::kClientSize);
    setFont(SongTypeface(kWindowSongPixels)); // the texts without a font of their own
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    Timer2 = MakeTimer(this, 1000);
    Timer3 = MakeTimer(this, 10000);
    Timer1 = MakeTimer(this, 800);

    // Surface pictures and labels, created from the bottom of the stack up.
    Image1 = MakeFace(this, {{0, 0}, skin::kBackgroundSize}, QStringLiteral("background.jpg"));
    Image3 = MakeFace(this, {skin::kIdPlayPlace, skin::kWideFaceSize},
                      QStringLiteral("id_play_hot.bmp"));
    Image5 = MakeFace(this, {skin::kQuickSearchPlace, skin::kWideFaceSize},
                      QStringLiteral("quick_search_hot.bmp"));
    Image7 =
        MakeFace(this, {skin::kAboutPlace, skin::kWideFaceSize}, QStringLiteral("about_hot.bmp"));
    Image10 =
        MakeFace(this, {skin::kFetchPlace, skin::kWideFaceSize}, QStringLiteral("fetch_hot.bmp"));
    Image11 = MakeFace(this, {skin::kFetchPlace, skin::kWideFaceSize}, QStringLiteral("fetch.bmp"));
    Image2 =
        MakeFace(this, {skin::kIdPlayPlace, skin::kWideFaceSize}, QStringLiteral("id_play.bmp"));
    Image4 = MakeFace(this, {skin::kQuickSearchPlace, skin::kWideFaceSize},
                      QStringLiteral("quick_search.bmp"));
    Image6 = MakeFace(this, {skin::kAboutPlace, skin::kWideFaceSize}, QStringLiteral("about.bmp"));
    Image13 =
        MakeFace(this, {skin::kClosePlace, skin::kWindowFaceSize}, QStringLiteral("close_hot.bmp"));
    Image12 =
        MakeFace(this, {skin::kClosePlace, skin::kWindowFaceSize}, QStringLiteral("close.bmp"));
    Image9 = MakeFace(this, {skin::kPlayStopPlace, skin::kWideFaceSize},
                      QStringLiteral("play_stop_hot.bmp"));
    Image8 = MakeFace(this, {skin::kPlayStopPlace, skin::kWideFaceSize},
                      QStringLiteral("play_stop.bmp"));
    Image14 = MakeFace(this, {skin::kMinimisePlace, skin::kWindowFaceSize},
                       QStringLiteral("minimise_hot.bmp"));
    Image15 = MakeFace(this, {skin::kMinimisePlace, skin::kWindowFaceSize},
                       QStringLiteral("minimise.bmp"));
    Label2 = MakeLabel(this, {520, 448, 105, 17});
    Label3 = MakeLabel(this, {5, 448, 73, 17});
    Label4 = MakeLabel(this, {80, 448, 425, 17});
    Label1 = MakeLabel(this, {5, 8, 84, 14});
    Label1->setFont(SongTypeface(kSongPixels));
    Label1->setText(platform::kApplicationTitle);
    Label1->adjustSize();
    Image11->setEnabled(false);

    // Child windows lie above every picture and label.
    ListView1 = new QTreeView(this);
    ListView1->setGeometry(skin::kTableArea);
    ListView1->setFont(SongTypeface(kSongPixels));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->viewport()->setMouseTracking(true);
    ListView1->viewport()->installEventFilter(this);

    Text1 = new ChannelIdBox(this);
    Text1->setGeometry(113, 8, 49, 12);
    Text1->setFrame(false);
    Text1->setTextMargins(0, 0, 0, 0);
    Text1->setToolTip(QStringLiteral("根据频道ID 快速播放"));
    QPalette textPalette = Text1->palette();
    textPalette.setColor(QPalette::Base, Qt::white);
    Text1->setPalette(textPalette);
    showInText1(kText1Placeholder, kText1Silver);
    Text1->installEventFilter(this);

    Slider1 = new QScrollBar(Qt::Horizontal, this);
    Slider1->setGeometry(skin::kVolumeArea);
    Slider1->setRange(0, 100);
    Slider1->setSingleStep(5);
    Slider1->setPageStep(5);
    Slider1->setFocusPolicy(Qt::StrongFocus);
    Slider1->setInvertedControls(false); // the arrow keys move the bar the way they point

    Frame1 = new QGroupBox(QStringLiteral("Frame1"), this);
    Frame1->setGeometry(296, 80, 233, 177);
    Frame1->hide();
    List1 = new ListBox(Frame1);
    List1->setGeometry(208, 96, 33, 40);

    WebBrowser1 = platform_.createWebBrowser();
    WindowsMediaPlayer1 = platform_.createMediaPlayer();

    setTabOrder(Text1, Slider1);
    setTabOrder(Slider1, ListView1);
    describeToAssistiveTechnology();
    Text1->setFocus(); // where the focus is when the window is first shown
    new CursorBlinkTimeout(this);
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
    connect(WebBrowser1.get(), &platform::WebBrowser::DocumentComplete, this,
            &Form1::WebBrowser1_DocumentComplete);
}
