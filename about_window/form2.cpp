// SPDX-License-Identifier: GPL-3.0-or-later
#include "about_window/form2.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWindow>

namespace {

const QString kAboutText = QStringLiteral("本软件是一款几乎可以收听全国各地的广播电台。\n"
                                          "\n"
                                          "占用资源极少。\n"
                                          "无插件，无病毒。\n"
                                          "\n"
                                          "\n"
                                          "\n"
                                          "制作人：Quorvel 开发组\n");

// A multi-line box with both scroll bars on the button-face background.
QPlainTextEdit *MakeTextBox(QWidget *parent, const QRect &place) {
    auto *box = new QPlainTextEdit(parent);
    box->setGeometry(place);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves the focus on to the next control instead of typing a tab.
    box->setTabChangesFocus(true);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    box->setPalette(palette);
    return box;
}

} // namespace

Form2::Form2(platform::Platform &platform, QWidget *parent)
    : FixedDialog(parent, {408, 356}), platform_(platform) {
    createControls();
    Form_Load();
}

Form2::~Form2() = default;

void Form2::createControls() {
    setWindowTitle(QStringLiteral("关于"));

    Frame1 = new QGroupBox(QStringLiteral(" Quorvel收音机 "), this);
    Frame1->setGeometry(8, 8, 393, 137);
    Text1 = MakeTextBox(Frame1, {8, 16, 377, 113});
    Text1->setReadOnly(true);
    Text1->setPlainText(kAboutText);
    Frame3 = new QGroupBox(QStringLiteral("Frame3"), Frame1);
    Frame3->setGeometry(208, 16, 129, 113);
    Frame3->hide();

    Frame2 =
        new QGroupBox(QStringLiteral(" 作者联系(建议)/ 问题反馈 / 频道问题 / 频道推荐 "), this);
    Frame2->setGeometry(8, 152, 393, 169);
    Text2 = MakeTextBox(Frame2, {8, 16, 377, 121});
    Text2->setPlainText(kFeedbackGreeting);
    Command2 = new QPushButton(QStringLiteral("发送"), Frame2);
    Command2->setGeometry(320, 140, 65, 25);
    Command2->setEnabled(false);

    Command1 = new QPushButton(QStringLiteral("返回"), this);
    Command1->setGeometry(208, 328, 73, 25);
    Command3 = new QPushButton(QStringLiteral("软件更新"), this);
    Command3->setGeometry(144, 328, 65, 25);
    for (QPushButton *button : {Command2, Command1, Command3}) {
        button->setAutoDefault(false);
    }

    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Command2);
    setTabOrder(Command2, Command1);
    setTabOrder(Command1, Command3);

    // The window has no icon; left alone, it would show the main window's.
    winId();
    windowHandle()->setIcon(QIcon());

    WebBrowser1 = platform_.createWebBrowser();

    connect(Text2, &QPlainTextEdit::textChanged, Command2, [this] { Command2->setEnabled(true); });
    connect(WebBrowser1.get(), &platform::WebBrowser::DocumentComplete, this, &Form2::pageComplete);
    sendDeadline_.setSingleShot(true);
    connect(&sendDeadline_, &QTimer::timeout, this, &Form2::sendTimedOut);
    connect(Command2, &QPushButton::clicked, this, &Form2::SendFeedback);
    connect(Command1, &QPushButton::clicked, this, &QDialog::close);
    connect(Command3, &QPushButton::clicked, this, &Form2::CheckForUpdate);
}

void Form2::Form_Load() {
    loadBoardPage();
}
