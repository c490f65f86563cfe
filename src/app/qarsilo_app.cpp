#include "app/qarsilo_app.h"

#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/capture/adapter_list.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/capture/native_path.h"
#include "gui/addressbook/address_book_dlg.h"
#include "gui/addressbook/book_location_dlg.h"
#include "gui/addressbook/group_editor_dlg.h"
#include "gui/discovery/autodiscovery_dlg.h"
#include "gui/shell/main_frame.h"
#include "gui/shell/select_adapter_dialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QInputDialog>
#include <QScreen>
#include <climits>
#include <cstdio>
#include <unistd.h>

using namespace qarsilo;

namespace {

// The address book and the autodiscovery window open each other only through
// these runners.
void wireBookAndDiscovery() {
    CAddressBookDlg::setAutodiscoveryRunner(runAutodiscovery);
    CAutodiscoveryDlg::setDefaultGroupEditorRunner([](QWidget* parent, const QString& fileName) {
        CGroupEditorDlg editor(parent, fileName);
        return editor.exec();
    });
}

} // namespace

CqarsiloApp::Environment CqarsiloApp::defaultEnvironment() {
    CqarsiloApp::Environment env;
    env.runAdapterDialog = runSelectAdapterDialog;
    env.defaultDevice = [] { return defaultDevice(); };
    return env;
}

CqarsiloApp::CqarsiloApp()
    : CqarsiloApp(defaultEnvironment()) {}

CqarsiloApp::CqarsiloApp(Environment env)
    : m_env(std::move(env)) {}

CqarsiloApp::~CqarsiloApp() = default;

bool CqarsiloApp::initInstance() {
    wireBookAndDiscovery();
    m_frame = std::make_unique<CMainFrame>(m_env.views);
    m_frame->setAddressBookOpener([](QWidget* parent) { runAddressBook(parent); });
    // The address book the settings name; a server that wants a password the
    // URL and ~/.pgpass do not give asks the operator.
    useBookLocation(m_env.settings);
    m_frame->setBookLocationRunner([this](QWidget* parent) {
        changeBookLocation(parent, m_env.settings, [](QDialog& d) { return d.exec(); });
    });
    AddressDatabase::setPasswordPrompt([](const QString& location, QString& password) {
        bool ok = false;
        password = QInputDialog::getText(
            QApplication::activeWindow(), QStringLiteral("Address Book Password"),
            QStringLiteral("Password for %1:").arg(location), QLineEdit::Password, QString(), &ok);
        return ok;
    });
    if (m_env.runAdapterDialog)
        m_frame->setAdapterDialogRunner(m_env.runAdapterDialog);

    // The adapter of the last run, or the operator's choice now.
    QString adapter;
    m_env.settings.readString(setting::adapterName, adapter);
    app::setSelectedAdapter(adapter.trimmed());
    // A capture file given to open needs no adapter now.
    if (app::selectedAdapter().isEmpty() && m_env.captureFile.isEmpty() && m_env.runAdapterDialog)
        m_env.runAdapterDialog(m_frame.get());
    // Nothing chosen: libpcap's default device, for this run only.
    if (app::selectedAdapter().isEmpty() && m_env.defaultDevice)
        app::setSelectedAdapter(m_env.defaultDevice());

    m_frame->show();
    m_frame->setWindowTitle(QStringLiteral("qarsilo"));
    if (isStreamAdapter(m_env.captureFile)) {
        // A stream (the standard input, a command's output) is watched like
        // an adapter, for this run only.
        app::setSelectedAdapter(m_env.captureFile);
        m_frame->switchToView(view::CaptureDecode);
    } else if (!m_env.captureFile.isEmpty()) {
        m_frame->openCaptureFile(m_env.captureFile);
    }
    if (QScreen* screen = m_frame->screen()) {
        const QRect area = screen->availableGeometry();
        QRect frame = m_frame->frameGeometry();
        frame.moveCenter(area.center());
        m_frame->move(frame.topLeft().x() < area.left() ? area.left() : frame.topLeft().x(),
                      frame.topLeft().y() < area.top() ? area.top() : frame.topLeft().y());
    }
    return true;
}

// QApplication's arguments lose bytes that are not UTF-8, argv (without Qt's
// own options, which the application object took out) keeps them.
QString CqarsiloApp::captureArgument(int argc, char* argv[]) {
    QString path;
    bool onlyFile = false; // after "--" the argument is a file name, whatever it spells
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--" && i + 1 < argc) {
            path = qarsilo::fileNameFromNative(QByteArray(argv[i + 1]));
            onlyFile = true;
            break;
        }
        if (arg == "-" || !arg.startsWith('-')) {
            path = qarsilo::fileNameFromNative(arg);
            break;
        }
    }
    // The standard input and "pipe:COMMAND" are streams, unless a file of
    // that name exists: a file name never runs a command.
    if (!onlyFile) {
        const qarsilo::SourceArgument source = qarsilo::parseSourceArgument(path);
        if (source.commandNotRun)
            std::fprintf(stderr, "qarsilo: %s\n", qPrintable(qarsilo::commandNotRunMessage(path)));
        if (source.name.isStream())
            return qarsilo::adapterNameText(source.name);
    }
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return path;
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd))
        return path;
    return qarsilo::fileNameFromNative(QByteArray(cwd)) + QLatin1Char('/') + path;
}
