// The announcement line: Timer3 fetches the server's announcement into Label4.

#include "main_window/form1.h"
#include "main_window/picture.h"
#include "station_data/text_between.h"

#include <QTimer>

void Form1::Timer3_Timer() {
    Timer3->setInterval(40000);
    const std::unique_ptr<platform::HttpRequest> request = platform_.CreateHttpRequest();
    const platform::Endpoints &endpoints = platform_.endpoints();
    request->Open(QStringLiteral("GET"),
                  ServerReady ? endpoints.directoryServer + QStringLiteral("/radio/new.asp")
                              : endpoints.homePage);
    request->send();
    if (request->ReadyState() == 4) {
        Label4->setText(Module1::TextBetween(request->responseText(), QStringLiteral("(radiomsg)"),
                                             QStringLiteral("(/radiomsg)")));
    }
}
