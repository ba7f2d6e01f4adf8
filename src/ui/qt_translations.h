#pragma once

class QCoreApplication;

// Qt's own texts (the file dialog's labels and buttons, the standard buttons) in Japanese, like
// the rest of the window, whatever the locale. False when Qt's translations are not installed;
// the texts then stay English.
bool InstallQtTranslations(QCoreApplication& app);
