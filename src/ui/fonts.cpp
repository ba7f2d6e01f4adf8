#include "ui/fonts.h"

#include <QFont>
#include <QStringList>

void InstallFontSubstitutes() {
    const QStringList proportional = {QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
                                      QStringLiteral("IPAGothic")};
    for (const char* name : {"MS UI Gothic", "ＭＳ Ｐゴシック", "MS Shell Dlg"}) {
        const QString family = QString::fromUtf8(name);
        if (QFont::substitutes(family).isEmpty()) {
            QFont::insertSubstitutions(family, proportional);
        }
    }
}
