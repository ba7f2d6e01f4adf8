#include "ui/about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "ui/control_ids.h"
#include "ui/dialog_units.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("バージョン情報 Pelorvane"));
    setFont(QFont(QStringLiteral("MS UI Gothic"), 9));
    const DialogUnits du(font());

    auto* icon = new QLabel(this);
    const QRect iconRect = du.Rect(14, 14, 21, 20);
    icon->setGeometry(iconRect);
    const QIcon appIcon(QStringLiteral(":/res/pelorvane.png"));
    if (!appIcon.isNull()) {
        const int side = qMin(iconRect.width(), iconRect.height());
        icon->setPixmap(appIcon.pixmap(side, side));
    }

    auto* version = new QLabel(QStringLiteral("Pelorvane, Version 1.0"), this);
    version->setTextFormat(Qt::PlainText);
    version->setGeometry(du.Rect(42, 14, 114, 8));

    auto* second = new QLabel(QStringLiteral("MIDIキーボード練習プレーヤー"), this);
    second->setTextFormat(Qt::PlainText);
    second->setGeometry(du.Rect(42, 26, 114, 8));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QString::number(ids::kOk));
    ok->setGeometry(du.Rect(113, 41, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(du.X(170), du.Y(62));
    ok->setFocus();
}
