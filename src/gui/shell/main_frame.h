#pragma once

#include "gui/shell/view.h"
#include "gui/shell/view_registry.h"

#include <QList>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <functional>
#include <map>

class CView;
class HelpWindow;
class QAction;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;

/// The program's single main window: menu, the main and the view toolbars,
/// the status bar, and exactly one view in the client area.
class CMainFrame : public QMainWindow, public ViewHost {
    Q_OBJECT
public:
    /// Width and height of the frame until the operator resizes it (the size,
    /// and whether it is maximized, are kept between runs).
    static constexpr int kWidth = 1024;
    static constexpr int kHeight = 768;
    /// The smallest size every view fits in.
    static constexpr QSize kMinimumSize{900, 680};

    /// A frame offering the views of `registry` (the program's are built in app/).
    explicit CMainFrame(ViewRegistry registry, QWidget* parent = nullptr);
    ~CMainFrame() override;

    /// Replaces the current view by a new view of that number: the new view is
    /// made, the old one destroyed (which stops its capture), then the new
    /// view's initial update runs. Returns false when no such view exists.
    bool switchToView(int templateId);
    void switchToViewLater(int templateId) override;
    void switchToViewAndStartLater(int templateId) override;
    void showFramesInAnalyzerLater(const QString& displayFilter) override;
    CView* activeView() const { return m_view; }
    /// Whether the frame can show views of that number.
    bool hasView(int templateId) const override { return m_registry.has(templateId); }
    int activeTemplate() const;

    /// Sends a command as the menu or a toolbar button would; disabled
    /// commands are ignored. Returns true when the command was carried out.
    bool sendCommand(int command);
    /// Recomputes which commands are enabled (also runs on a short timer).
    void updateCommandUi();

    void setViewButtons(const QList<ViewButton>& buttons) override;
    QList<ViewButton> viewButtons() const { return m_viewButtons; }
    void setLinkSpeedText(const QString& text) override;
    QString linkSpeedText() const;
    QString statusText() const;
    void showStatusMessage(const QString& text, int milliseconds = 5000) override;

    QAction* action(int command) const;
    QToolBar* mainToolBar() const { return m_mainBar; }
    QToolBar* viewToolBar() const { return m_viewBar; }
    /// A top-level menu by its title ("Network Charts", "&Help", ...).
    QMenu* menu(const QString& title) const;
    /// The pop-up menu last opened from the main toolbar (tests).
    QMenu* lastPopup() const { return m_lastPopup; }
    HelpWindow* helpWindow() const { return m_help; }

    /// Opens the address book; unset until the address book exists, and its
    /// commands are disabled meanwhile.
    void setAddressBookOpener(std::function<void(QWidget*)> opener);
    /// File > "Address Book Location...": runs the location dialog over the frame.
    void setBookLocationRunner(std::function<void(QWidget*)> runner);
    /// Runs the Select adapter dialog; replaceable so tests never block on it.
    void setAdapterDialogRunner(std::function<void(QWidget*)> runner);
    /// Asks for a capture file to open; returns its path or nothing.
    void setCaptureFileChooser(std::function<QString(QWidget*)> chooser);
    /// Tools > "Spill Folder...": asks for a folder, starting at `current`;
    /// returns it or nothing.
    void setSpillFolderChooser(std::function<QString(QWidget*, const QString& current)> chooser);
    /// Opens the capture file at `path` as the File menu does; false when it
    /// cannot be read (the operator has been told).
    bool openCaptureFile(const QString& path);

    /// The capture files opened last, newest first (at most kRecentFiles).
    static QStringList recentFiles();
    static constexpr int kRecentFiles = 10;
    void setViewStatusText(const QString& text) override;
    QString viewStatusText() const;
    void setCaptureFilters(const QStringList& filters, int changeCommand = 0) override;
    /// The capture filter pane: "Capture filter: ..." while shown, empty while hidden.
    QString captureFilterText() const;
    QLabel* captureFilterPane() const { return m_filterPane; }

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    /// A capture file dropped on the window opens as File > Open Capture File does.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    /// A qarsilo::StreamWait state of a window's stream source.
    void onStreamWait(int state, const QString& adapter);
    void buildMenu();
    void buildToolBars();
    void buildStatusBar();
    void buildCaptureFilterPane();
    void handleCommand(int command);
    void popupMenu(int command, const QString& title);
    void showHelp(int command);
    void showAbout();
    void runAdapterDialog();
    void openCaptureFile();
    void chooseSpillFolder();
    bool isCommandAvailable(int command) const;

    static void rememberRecentFile(const QString& path);
    void fillRecentMenu();
    void restorePosition();
    void restoreSize();
    bool isNormalSized() const;

    ViewRegistry m_registry;
    QMenu* m_recentMenu = nullptr;
    QLabel* m_viewStatusPane = nullptr;
    QLabel* m_filterPane = nullptr;
    int m_filterCommand = 0; ///< what a click on the capture filter pane sends
    CView* m_view = nullptr;
    std::map<int, QAction*> m_actions;
    std::map<int, QAction*> m_toolbarTwins; // toolbar buttons that share a menu command
    QList<QMenu*> m_topMenus;
    QToolBar* m_mainBar = nullptr;
    QToolBar* m_viewBar = nullptr;
    QList<QAction*> m_viewBarActions;
    QList<ViewButton> m_viewButtons;
    QList<QIcon> m_viewIcons;
    QLabel* m_readyPane = nullptr;
    QLabel* m_linkPane = nullptr;
    QPointer<QMenu> m_lastPopup;
    HelpWindow* m_help = nullptr;
    std::function<void(QWidget*)> m_addressBook;
    std::function<void(QWidget*)> m_bookLocation;
    std::function<void(QWidget*)> m_adapterDialog;
    std::function<QString(QWidget*)> m_fileChooser;
    std::function<QString(QWidget*, const QString&)> m_folderChooser;
};
