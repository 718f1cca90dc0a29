// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/platform.h"
#include "widgets/fixed_dialog.h"

#include <QTimer>
#include <memory>

class QGroupBox;
class QPlainTextEdit;
class QPushButton;

// The greeting that opens every message to the author.
inline const QString kFeedbackGreeting = QStringLiteral("致：Quorvel收音机作者\r\n");

// The update prompt for the version the home page offers.
QString UpdatePrompt(const QString &version);

// The About window: the program's description, a message to the author sent
// through the hidden message-board page, and the update check. Created for
// each opening and shown modally.
class Form2 : public FixedDialog {
    Q_OBJECT
public:
    explicit Form2(platform::Platform &platform, QWidget *parent = nullptr);
    ~Form2() override;

    QGroupBox *Frame1;
    QPlainTextEdit *Text1;
    QGroupBox *Frame2;
    QPlainTextEdit *Text2;
    QPushButton *Command2;
    QPushButton *Command1;
    QPushButton *Command3;
    QGroupBox *Frame3; // never shown: stands for the hidden page
    std::unique_ptr<platform::WebBrowser> WebBrowser1;

    // The feedback text: the whole of Text2, lines broken by CR LF.
    QString feedbackText() const;
    // Starts posting the feedback text; the outcome is told in a message box
    // once the board has answered.
    void SendFeedback();
    void CheckForUpdate();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    // Where a message to the author is on its way.
    enum class SendStep { Idle, WaitingForBoard, WaitingForAnswer };

    void createControls();
    void Form_Load();
    // Loads the message-board page into the hidden browser.
    void loadBoardPage();
    // The hidden browser completed a page: the board page, or the board's answer.
    void pageComplete();
    // Fills in the board's form and submits it.
    void postFeedback();
    void sendTimedOut();
    // Ends the send with a failure, logging why the board did not take it.
    void sendFailed(const QString &why);
    // Ends the send and tells its outcome.
    void finishSend(bool sent);
    // Drops the send of a window that is closed: nothing more is told of it.
    void abandonSend();

    platform::Platform &platform_;
    SendStep sendStep_ = SendStep::Idle;
    QTimer sendDeadline_;       // the bound on the whole send
    bool boardLoading_ = false; // the board page is on its way
};
