#pragma once

#include "widgets/fixed_dialog.h"
#include "platform/platform.h"

#include <memory>

class QDeadlineTimer;
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
    void SendFeedback();
    void CheckForUpdate();

private:
    void createControls();
    void Form_Load();
    // Loads the message-board page into the hidden browser.
    void loadBoardPage();
    // Waits for the browser's next completed page; false when none came in time.
    bool waitForPage(const QDeadlineTimer &deadline);

    platform::Platform &platform_;
    bool sending_ = false;
    bool boardLoading_ = false; // the board page is on its way
};
