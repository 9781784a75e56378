// A private X server for tests that start the real program with a window. The
// server picks a free display number itself (-displayfd) and announces it once it
// takes connections, so two test runs, or a display another user's server holds
// only in the abstract socket namespace, never collide.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

class VirtualDisplay {
public:
    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty(); }

    VirtualDisplay()
    {
        if (!available())
            return;
        server_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        if (!server_.waitForStarted(5000))
            return;
        for (int second = 0; second < 20 && !server_.canReadLine() && server_.state() == QProcess::Running; ++second)
            server_.waitForReadyRead(1000);
        const QString number = QString::fromLatin1(server_.readLine()).trimmed();
        if (!number.isEmpty())
            name_ = QLatin1Char(':') + number;
    }
    ~VirtualDisplay()
    {
        server_.terminate();
        server_.waitForFinished(3000);
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N", or empty when no server could be started.
    const QString& name() const { return name_; }
    // What the server said on standard error: why it did not come up.
    QString errors() { return QString::fromLocal8Bit(server_.readAllStandardError()); }

    // The environment of a program shown on this display.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.insert("DISPLAY", name_);
        return env;
    }
    // Runs an X tool on the display and returns what it printed.
    QString run(const QString& tool, const QStringList& arguments) const
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(tool, arguments);
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    // The windows on the display with their names.
    QString windowNames() const { return run(QStringLiteral("xwininfo"), {"-root", "-tree"}); }

private:
    QProcess server_;
    QString name_;
};
