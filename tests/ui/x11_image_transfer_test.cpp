#include "ui/x11_image_transfer.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>

TEST(X11ImageTransferTest, AsksForTheSocketOnlyUntilConnectedAndNeverOverTheUsersChoice) {
    const char* name = X11ImageTransfer::kVariable;
    qunsetenv(name);
    {
        X11ImageTransfer transfer;
        EXPECT_EQ(qgetenv(name), "1");
        transfer.Settle();
        // What the program starts from here on sees no choice of ours.
        EXPECT_FALSE(qEnvironmentVariableIsSet(name));
    }
    qputenv(name, QByteArrayLiteral("0"));
    {
        X11ImageTransfer transfer;
        EXPECT_EQ(qgetenv(name), "0");
    }
    EXPECT_EQ(qgetenv(name), "0");
    qunsetenv(name);
}
