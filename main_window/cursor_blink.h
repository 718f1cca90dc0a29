// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>

// Stops the text cursor's blinking after a while without input, as the
// desktop's own text fields do: a window left with the focus in a text box
// would otherwise repaint that box twice a second for as long as it stays
// open. The next key or mouse press, or a focus change, makes it blink again.
// Watches the whole application; the desktop's blink rate comes back when it
// is destroyed.
class CursorBlinkTimeout final : public QObject {
public:
    explicit CursorBlinkTimeout(QObject *parent,
                                std::chrono::milliseconds after = std::chrono::seconds(10));
    ~CursorBlinkTimeout() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void blinkAgain();

    const int flashTime_; // the desktop's, in milliseconds per blink
    QTimer idle_;
};
