// Test entry: one QApplication for the whole run, on the headless platform.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // A runtime folder of this run's own (0700): the programs the tests start keep their
    // one-instance lock there, so neither a running QuorlinVCP nor another test run
    // stands in their way.
    QTemporaryDir runtime;
    if (runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    // No Wine prefix unless a test makes one: the programs the tests start must not
    // put ports into the user's ~/.wine.
    qputenv("WINEPREFIX", QFile::encodeName(runtime.path() + QStringLiteral("/no-wine-prefix")));
    // A system bus of the run's own, so no Avahi of the machine's: the editor offers
    // what the network advertises. Nothing listens there unless a test puts a bus
    // there; the D-Bus library reads the address once for the whole process.
    const QString systemBus = runtime.path() + QStringLiteral("/system-bus");
    qputenv("QVCP_TEST_SYSTEM_BUS", QFile::encodeName(systemBus));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QFile::encodeName(QStringLiteral("unix:path=") + systemBus));
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
