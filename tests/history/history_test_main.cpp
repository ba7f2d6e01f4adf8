#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstring>

#include "full_disk_child.h"

// Qt's database drivers are plugins, which want an application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--store-on-a-full-disk") == 0) {
        return StoreOnAFullDisk(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
