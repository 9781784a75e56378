// The program's entry in the desktop's start-up list, which the options dialog
// turns on and off.
#pragma once

#include "config/StartUpEntry.h"

#include <QString>

class Autostart {
public:
    virtual ~Autostart() = default;
    virtual bool isOn() const = 0;
    // Each gives error 0, or the error of the step that failed and the file it concerned.
    virtual StartUpEntryResult turnOn(const QString& programPath) = 0;
    virtual StartUpEntryResult turnOff() = 0;
};

// The program's XDG autostart entry: machine-wide when that folder can be written,
// otherwise the user's own.
class XdgAutostart final : public Autostart {
public:
    explicit XdgAutostart(QString entryName = QStringLiteral("QuorlinVCP")) : name_(std::move(entryName)) {}
    bool isOn() const override { return startUpEntryExists(name_); }
    StartUpEntryResult turnOn(const QString& programPath) override { return writeStartUpEntry(name_, programPath); }
    StartUpEntryResult turnOff() override { return deleteStartUpEntry(name_); }

private:
    QString name_;
};
