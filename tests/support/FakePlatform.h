// Scripted platform pieces: message boxes answered from a queue and recorded, a
// tray icon that records what was done to it, a cursor that counts.
#pragma once

#include "app/ProgramState.h"
#include "app/platform/Platform.h"

#include <QAction>
#include <QList>
#include <deque>

class FakeMessageBoxes : public MessageBoxes {
public:
    msgbox::Answer show(const msgbox::Request& request) override
    {
        shown.append(request);
        if (answers.empty())
            return request.buttons == msgbox::Buttons::Ok ? msgbox::Answer::Ok : msgbox::Answer::Cancel;
        const msgbox::Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    QStringList texts() const
    {
        QStringList list;
        for (const auto& r : shown)
            list << r.text;
        return list;
    }

    QList<msgbox::Request> shown;
    std::deque<msgbox::Answer> answers;
};

class FakeTrayIcon : public TrayIconPort {
public:
    bool isAvailable() const override { return available; }
    bool supportsMessages() const override { return messages; }
    void showIcon(const QString& toolTip) override
    {
        ++adds;
        shown = true;
        this->toolTip = toolTip;
    }
    void hideIcon() override
    {
        ++removes;
        shown = false;
    }
    bool isShown() const override { return shown; }
    void showMessage(const QString& title, const QString& text) override { balloons.append({title, text}); }
    void press(Activation activation) { emit activated(activation); }

    bool available = true;
    bool messages = true;
    bool shown = false;
    int adds = 0;
    int removes = 0;
    QString toolTip;
    QList<QPair<QString, QString>> balloons;
};

class FakeCursor : public BusyCursor {
public:
    void setBusy() override { ++depth, ++busyCount; }
    void restore() override { --depth; }
    int depth = 0;
    int busyCount = 0;
};

class FakeFileDialogs : public FileDialogs {
public:
    FileDialogResult choose(const FileDialogRequest& request) override
    {
        requests.append(request);
        if (answers.empty())
            return {};
        FileDialogResult answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void pick(const QString& path, int filterIndex = 1) { answers.push_back({true, {path}, filterIndex}); }
    void cancel() { answers.push_back({}); }

    QList<FileDialogRequest> requests;
    std::deque<FileDialogResult> answers;
};

class FakeMenuPopup : public MenuPopup {
public:
    void popup(QMenu* menu, const QPoint& globalPosition) override
    {
        QStringList enabled;
        for (QAction* a : menu->actions())
            if (!a->isSeparator() && a->isEnabled())
                enabled << a->text();
        shown.append(enabled);
        positions.append(globalPosition);
    }
    QList<QStringList> shown;  // the enabled entries, per pop-up
    QList<QPoint> positions;
};

class FakeDocumentOpener : public DocumentOpener {
public:
    void open(const QString& path) override { opened << path; }
    QStringList opened;
};

struct FakePlatform {
    FakeMessageBoxes messages;
    FakeTrayIcon tray;
    FakeCursor cursor;
    FakeFileDialogs dialogs;
    FakeMenuPopup popups;
    FakeDocumentOpener opener;
    ProgramState state;  // its settings file is the test's to set
    Platform platform{&messages, &tray, &cursor, &dialogs, &popups, &opener, nullptr, &state};
};
