#include "ui/setting_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "midi/midi_port.h"
#include "ui/control_ids.h"
#include "ui/dialog_units.h"

CSettingDialog::CSettingDialog(MidiService& service, QWidget* parent)
    : QDialog(parent), m_service(service) {
    setWindowTitle(QStringLiteral("設定"));
    setFont(QFont(QStringLiteral("MS Shell Dlg"), 8));
    const DialogUnits du(font());

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QString::number(ids::kOk));
    ok->setGeometry(du.Rect(96, 60, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CSettingDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QString::number(ids::kCancel));
    cancel->setGeometry(du.Rect(150, 60, 50, 14));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* inLabel = new QLabel(QStringLiteral("MIDI入力デバイス"), this);
    inLabel->setGeometry(du.Rect(6, 6, 60, 8));
    auto* outLabel = new QLabel(QStringLiteral("MIDI出力デバイス"), this);
    outLabel->setGeometry(du.Rect(6, 30, 60, 8));

    // The combo boxes' height is their closed height; the template's height is the drop list's.
    auto makeCombo = [&](int id, int y) {
        auto* combo = new QComboBox(this);
        combo->setObjectName(QString::number(id));
        combo->setEditable(false);
        combo->setMaxVisibleItems(8);
        QRect rect = du.Rect(12, y, 186, 12);
        rect.setHeight(qMax(rect.height(), combo->sizeHint().height()));
        combo->setGeometry(rect);
        return combo;
    };
    m_inCombo = makeCombo(ids::kInCombo, 15);
    m_outCombo = makeCombo(ids::kOutCombo, 39);

    setTabOrder(ok, cancel);
    setTabOrder(cancel, m_inCombo);
    setTabOrder(m_inCombo, m_outCombo);

    setFixedSize(du.X(207), du.Y(82));
}

void CSettingDialog::OnInitDialog() {
    m_inCombo->clear();
    for (const std::string& name : m_service.InputNames()) {
        m_inCombo->addItem(QString::fromStdString(name));
    }
    m_inCombo->setCurrentIndex(m_devices.m_inDeviceId >= 0 &&
                                       m_devices.m_inDeviceId < m_inCombo->count()
                                   ? m_devices.m_inDeviceId
                                   : -1);
    m_outCombo->clear();
    for (const std::string& name : m_service.OutputNames()) {
        m_outCombo->addItem(QString::fromStdString(name));
    }
    m_outCombo->setCurrentIndex(m_devices.m_outDeviceId >= 0 &&
                                        m_devices.m_outDeviceId < m_outCombo->count()
                                    ? m_devices.m_outDeviceId
                                    : -1);
    // The first tab stop takes the focus.
    if (QWidget* first = findChild<QWidget*>(QString::number(ids::kOk))) {
        first->setFocus();
    }
}

void CSettingDialog::accept() {
    m_devices.m_inDeviceId = m_inCombo->currentIndex();
    if (m_devices.m_inDeviceId >= 0) {
        m_devices.m_inDeviceName = m_inCombo->itemText(m_devices.m_inDeviceId).toStdString();
    }
    m_devices.m_outDeviceId = m_outCombo->currentIndex();
    if (m_devices.m_outDeviceId >= 0) {
        m_devices.m_outDeviceName = m_outCombo->itemText(m_devices.m_outDeviceId).toStdString();
    }
    QDialog::accept();
}
