// The main window: the list of redirects, the editor frame laid over it, the menus,
// and the handlers of the program's commands. Each handler is a short run of
// numbered statements over the layers beneath, which do the work: RedirectEditor
// (redirect/), RedirectList and EmulationSwitch (devices/), ConfigurationDocument
// (config/). The handlers live in frmMain*.cpp by subject, the status line,
// shutdown and help in their own files beside them. The widgets and menu entries
// are private; each has an object name (its member's name, "cmdNewRedirect(0)" for
// an element of an array), by which the tests find it and use it as a user does.
// Public are only what the program calls from outside: start-up, the session's end,
// a later start's request, and the screenshot tool's refresh of the list.
#pragma once

#include "app/platform/Platform.h"
#include "config/ConfigurationDocument.h"
#include "devices/EmulationSwitch.h"
#include "devices/RedirectList.h"
#include "devices/WinePorts.h"
#include "devices/StatusRefresh.h"
#include "redirect/PortScanner.h"
#include "redirect/RedirectEditor.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeView;
class QWidget;
class MonitorWindow;

// Why the main window is asked to close.
namespace closeReason {
inline constexpr int windowClose = 0;  // the window manager's close (title bar, window menu)
inline constexpr int exitCommand = 1;  // File > Exit
inline constexpr int sessionEnd = 2;   // the desktop session ends
inline constexpr int terminate = 3;    // the system asks the program to end (SIGTERM)
inline constexpr int other = 4;
}  // namespace closeReason

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(Platform& platform, QWidget* parent = nullptr);

    // Start-up: sizes the window, opens the device library, fills the editor's
    // choices and loads the configuration the command line or the settings name.
    void Form_Load();
    // The current configuration file's path; start-up gives it the command line's.
    const QString& scriptFile() const { return document_.path(); }
    void setScriptFile(const QString& path) { document_.setPath(path); }
    // A later start of the program asked for this window: it comes to the front (from
    // the notification area too) and, when file names one, opens it as Load does,
    // after the question about unsaved changes. While a question or the editor's
    // preparation is under way, the request waits for its end.
    void startRequested(const QString& file);

    // Closes the window for a reason other than its own close control.
    void requestClose(int reason);
    // The session manager asks for unsaved work (before the session ends, or at a
    // checkpoint): the save question, when it allows one; the program goes on.
    void sessionSaveRequest(class SessionRequest& request);
    // The session has ended: closes down without a question.
    void sessionEnded();
    bool hasClosed() const { return m_Closed; }

    // Shows the window, or hides it into the notification area (start-up hides it
    // when the settings ask).
    void DisplayStatus(bool doShow);
    // The window's title, also the notification icon's tooltip.
    const QString& titleText() const { return m_TitleText; }

    // Reads the redirects from the device library into the list.
    void ScanAvailPairs();
    // The list's columns, in order.
    using enum RedirectRow::Column;
    StatusRefresh& statusRefresh() { return *statusRefresh_; }

    // The window's client area: the layout's full size, and the part that shows
    // only the list frame below the menu bar.
    static constexpr QSize layoutClientSize{561, 398};
    static constexpr int upperClientHeight = 203;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The handlers of the menu entries, buttons, list, boxes and notification icon,
    // reached through their widgets; their names are the ones the log prints.

    // Configuration files. Each returns whether it succeeded, for its callers.
    void mnuLoad_Click();
    bool ProcessScriptLoad();
    bool mnuSave_Click();
    bool mnuSaveAs_Click();

    // The redirect editor, laid over the list.
    void loadPairPropertiesFrame();
    void showPairProperties(const QString& devicePair, const QString& combinedText);
    void mnuCreate_Click();
    void txtHostPort_Validate(bool& cancel);
    void txtRIT_Validate(bool& cancel);
    void cmdNewRedirect_Click(std::int16_t index);
    bool isUnique(const QString& comPort, const QString& hostAddress, const QString& hostPort);
    // The editor's client certificate and key, chosen or cleared (frmMainTls.cpp).
    void cmdCertificate_Click();
    // An adapter's certificate the library could not trust: the user is asked once per
    // certificate in a run; Yes pins it to the redirect (updated as by the editor).
    void trustCertificate(std::int16_t clientId, const QString& fingerprint, const QString& subject);

    // Commands on listed redirects.
    void lstPairs_MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void mnuProperties_Click();
    void mnuReinitialize_Click();
    void mnuRemove_Click();
    void mnuRemoveAll_Click();
    // The selected redirect's monitor window: opened, or raised when it is open.
    void mnuMonitor_Click();
    // Every monitor window closes with the program.
    void closeMonitors();

    // Shutdown. True when the close is cancelled. interactive false (the desktop
    // session has ended): no save question and no message box; unsaved changes stay unsaved.
    bool Form_QueryUnload(int reason, bool interactive = true);
    void mnuExit_Click();

    // Help, about and options.
    void mnuViewHelp_Click();
    void mnuAbout_Click();
    void mnuOptions_Click();

    // Status line and notification area.
    void UpdateTitle();
    void cmdHide_Click();
    void TrayPic_MouseMove(TrayIconPort::Activation activation);

    // Emulation switch.
    void ChangeEmuStatus(bool wanted);
    bool emulationRunning() const { return emulation_.isRunning(); }
    void mnuEmulation_Click();

    void showUpperFramePosition();
    void buildLayout();
    void buildEditorFrame(QWidget* client);
    // Creating from the editor's fields; replacing: the pair of an update is gone.
    void createRedirect(bool replacing);
    void closeEditor();
    // The editor filled from a combined text, in the update mode the caller gives.
    void showRedirectInEditor(const QString& combinedText, const std::function<UpdatingRedirect()>& update);
    void buildMenus();
    void connectHandlers();
    void showMessage(const QString& text);
    // While the editor is being prepared (its port scan lets events through), the
    // commands that could change devices or files are switched off.
    void setCommandsEnabled(bool enabled);
    bool restoreOldPair();
    // Makes fileName the current configuration; a file the library refuses leaves
    // the current file, emulation and the list as they were.
    void openConfiguration(const QString& fileName);
    void resumeStartRequest();
    // The save question of a close; false when the close must not go on.
    bool offerToSave(class Trap& trap);
    void validateNumber(QLineEdit* box);

    // List frame and window-level widgets.
    QGroupBox* fraMain;
    QTreeView* lstPairs;
    QLabel* lblAPIVer;
    std::array<QWidget*, 2> XPHolder;
    QPushButton* cmdHide;
    TrayIconPort* TrayPic;

    ::PortScanner PortScanner;

    // Menus; mnuDevices is only ever the list's pop-up.
    QMenu* mnuFile;
    QAction* mnuLoad;
    QAction* mnuSave;
    QAction* mnuSaveAs;
    QAction* mnuLine;
    QAction* mnuOptions;
    QAction* mnuLine1;
    QAction* mnuExit;
    QMenu* mnuEmuOpt;
    QAction* mnuEmulation;
    QMenu* mnuDevices;
    QAction* mnuCreate;
    QAction* mnuProperties;
    QAction* mnuLine3;
    QAction* mnuReinitialize;
    QAction* mnuRemove;
    QAction* mnuLine4;
    QAction* mnuRemoveAll;
    QAction* mnuLine5;
    QAction* mnuMonitor;
    QMenu* mnuHelp;
    QAction* mnuViewHelp;
    QAction* mnuAbout;

    Platform& platform_;
    ConfigurationDocument document_;  // the current configuration
    bool m_HiddenInTray = false;
    RedirectEditor* editor_;
    EmulationSwitch emulation_;
    std::unique_ptr<WinePorts> winePorts_;  // the running ports in Wine, when the platform reaches it
    std::optional<RedirectList> redirects_;  // over lstPairs, from when it is built
    std::optional<StatusRefresh> statusRefresh_;  // the rows' live status while shown
    QString m_TitleText;
    bool m_PreparingEditor = false;
    QList<bool> m_CommandStates;
    int m_PendingCloseReason = -1;
    std::optional<QString> m_PendingStart;  // a start request waiting for a question to end
    QHash<QString, bool> m_TrustAnswers;  // by certificate fingerprint: whether the user trusts it
    bool m_AskingTrust = false;
    std::map<int, QPointer<MonitorWindow>> monitors_;  // by COM number; a closed one is gone
    bool m_Closed = false;
};
