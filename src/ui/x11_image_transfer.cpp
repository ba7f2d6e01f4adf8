#include "ui/x11_image_transfer.h"

#include <QByteArray>
#include <QtGlobal>

X11ImageTransfer::X11ImageTransfer() {
    if (!qEnvironmentVariableIsSet(kVariable)) {
        m_ours = qputenv(kVariable, QByteArrayLiteral("1"));
    }
}

void X11ImageTransfer::Settle() {
    if (m_ours) {
        qunsetenv(kVariable);
        m_ours = false;
    }
}
