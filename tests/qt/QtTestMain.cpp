// The Qt front end's tests: one QApplication for the process, on the offscreen
// platform unless the environment names another, Qt's own file dialogs, and
// settings of their own (never the user's), emptied before every case.

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

namespace {

class ForgetSettings : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        QSettings(QStringLiteral("Moravel"), QStringLiteral("moravel")).clear();
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();  // listing the cases needs no application
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    // The programs the cases start keep their settings here too.
    const QTemporaryDir config;
    if (!config.isValid()) {
        return 1;
    }
    ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    ::testing::UnitTest::GetInstance()->listeners().Append(new ForgetSettings);

    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
