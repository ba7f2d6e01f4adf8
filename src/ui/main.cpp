#include <QApplication>

#include "ui/pelorvane_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelorvane"));
    QApplication::setDesktopFileName(QStringLiteral("pelorvane"));
    CPelorvaneApp theApp;
    return theApp.InitInstance();
}
