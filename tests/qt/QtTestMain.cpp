// The Qt front end's tests: one QApplication for the process, on the offscreen
// platform unless the environment names another, Qt's own file dialogs.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();  // listing the cases needs no application
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
