// SPDX-License-Identifier: GPL-3.0-or-later

// Text from servers (the announcement, the update check's version, a station's
// name) is shown as written: never as markup, and never naming a file that the
// window would open. Through the real windows, browser, requests and message
// boxes against a loopback server.

#include "about_window/form2.h"
#include "main_window/form1.h"
#include "main_window/picture.h"
#include "playback/play_station.h"
#include "tests/support/loopback_platform.h"
#include "tests/support/loopback_server.h"
#include "tests/support/main_window.h"
#include "tests/support/tick.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/inotify.h>
#include <unistd.h>

using testsupport::LoopbackPlatform;
using testsupport::LoopbackServer;
using testsupport::Tick;

namespace {

// Notices whether anything opens one file.
class OpenWatch {
public:
    explicit OpenWatch(const QString &path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        watching_ = inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN) >= 0;
    }
    ~OpenWatch() { ::close(fd_); }
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;

    bool watching() const { return watching_; }
    bool opened() const {
        alignas(inotify_event) char events[4096];
        return ::read(fd_, events, sizeof events) > 0;
    }

private:
    int fd_;
    bool watching_ = false;
};

// Closes, with Cancel, the first message box that shows, noting its text.
class BoxCloser : public QObject {
public:
    BoxCloser() {
        connect(&poll_, &QTimer::timeout, this, [this] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(window);
                if (box && box->isVisible()) {
                    text = box->text();
                    format = box->textFormat();
                    box->grab(); // draws it, as the screen would
                    box->button(QMessageBox::Cancel)->click();
                    poll_.stop();
                }
            }
        });
        poll_.start(10);
    }

    QString text;
    Qt::TextFormat format = Qt::AutoText;

private:
    QTimer poll_;
};

} // namespace

class TestServerText : public QObject {
    Q_OBJECT
private slots:
    void shownAsWritten_data();
    void shownAsWritten();
};

void TestServerText::shownAsWritten_data() {
    QTest::addColumn<QString>("where");
    QTest::newRow("announcement") << "announcement";
    QTest::newRow("update check's version") << "version";
    QTest::newRow("station name when played") << "station";
}

void TestServerText::shownAsWritten() {
    QFETCH(QString, where);
    QTemporaryDir folder;
    const QString picture = folder.filePath(QStringLiteral("picture.png"));
    {
        QFile file(picture);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a picture");
    }
    const OpenWatch watch(picture);
    QVERIFY(watch.watching());
    const QString markup = "<b>x</b><img src=\"" + picture + "\">";

    LoopbackServer server;
    LoopbackPlatform platform(LoopbackPlatform::onServer(server.url("")));
    platform.realMessageBoxes = true;
    QString expected;
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    if (where == u"version") {
        server.serve(
            "/",
            ("(radioban)" + markup + "(/radioban)(radio)http://127.0.0.1:1/(/radio)").toUtf8());
        Form2 about(platform);
        BoxCloser closer;
        about.Command3->click();
        expected = UpdatePrompt(markup);
        shown = closer.text;
        format = closer.format;
        QVERIFY(platform.opener.opened.isEmpty());
    } else {
        // Both announcement sources, since the directory may be ready by the tick.
        for (const char *path : {"/", "/radio/new.asp"})
            server.serve(path, ("(radiomsg)" + markup + "(/radiomsg)").toUtf8());
        server.serve("/radio/1.59.asp",
                     ("<body>(zebok)<br>(id)7(/id)(title)" + markup.toHtmlEscaped() +
                      "(/title)(url)http://127.0.0.1:1/7(/url)</body>")
                         .toUtf8());
        QTemporaryDir cacheFolder;
        testsupport::MainWindow window(platform);
        window.directory.setCacheFolders({cacheFolder.path()});
        Form1 &form = window.form;
        window.control<QTimer>("Timer1")->stop();
        window.control<QTimer>("Timer3")->stop();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const Picture *label4 = window.control<Picture>("Label4");
        if (where == u"announcement") {
            Tick(window.control<QTimer>("Timer3"));
            QTRY_VERIFY_WITH_TIMEOUT(!label4->text().isEmpty(), 10000);
            expected = markup;
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(window.directory.serverReady(), 10000);
            window.directory.FetchChannels();
            window.session.PlayAndReport(QStringLiteral("7"));
            expected = NowPlayingCaption(markup, QStringLiteral("7"));
            QCOMPARE(form.windowTitle(), expected);
        }
        form.grab(); // draws every label, as the screen would
        shown = label4->text();
        format = label4->textFormat();
    }
    QVERIFY2(!watch.opened(), "the window opened a file a server named");
    QCOMPARE(shown, expected);
    QCOMPARE(format, Qt::PlainText);
}

QTEST_MAIN(TestServerText)
#include "test_server_text.moc"
