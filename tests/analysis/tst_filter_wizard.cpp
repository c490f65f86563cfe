#include "app/builtin_views.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/analysis/filter_wizard.h"
#include "gui/shell/main_frame.h"
#include "gui/widgets/mask_edit.h"
#include "support/test_paths.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

using namespace qarsilo;

namespace {

QString captureFile() {
    return captureFileAdapterName(test::pcapDir() + QStringLiteral("/tcpdump__eapon1.pcap"));
}

template <typename T> T* byText(QWidget* page, const QString& text) {
    for (T* w : page->findChildren<T*>())
        if (w->text() == text)
            return w;
    return nullptr;
}

// Plays one step of a wizard script. Steps: "next", "back", "no", "box:TEXT"
// (click a check box or radio button of the current page), "mac:DIGITS"
// (typed into the MAC field from its start), "pick:MAC,IP" (the Address Book
// button picks that node), "dir:ENTRY" (a direction chosen in the list).
bool play(CFilterWizard& w, const QString& step, PickedNode& picked) {
    QWidget* page = w.findChild<QStackedWidget*>()->currentWidget();
    const QString arg = step.section(QLatin1Char(':'), 1);
    if (step == QLatin1String("next"))
        w.nextButton()->click();
    else if (step == QLatin1String("back"))
        w.backButton()->click();
    else if (step == QLatin1String("no"))
        w.welcomePage()->no()->click();
    else if (step.startsWith(QLatin1String("box:"))) {
        if (auto* box = byText<QCheckBox>(page, arg))
            box->click();
        else if (auto* radio = byText<QRadioButton>(page, arg))
            radio->click();
        else
            return false;
    } else if (step.startsWith(QLatin1String("mac:"))) {
        CMaskEdit* mac = w.ethernetPage()->mac();
        mac->setCursorPosition(0);
        for (QChar c : arg)
            if (c != QLatin1Char(':') && !mac->typeCharacter(c))
                return false;
    } else if (step.startsWith(QLatin1String("pick:"))) {
        picked.mac = arg.section(QLatin1Char(','), 0, 0);
        picked.ip = arg.section(QLatin1Char(','), 1);
        QPushButton* book = byText<QPushButton>(page, QStringLiteral("Address Book"));
        if (!book || !book->isEnabled())
            return false;
        book->click();
    } else if (step.startsWith(QLatin1String("dir:"))) {
        auto* list = page->findChild<QComboBox*>();
        const int index = list ? list->findText(arg) : -1;
        if (index < 0 || !list->isEnabled())
            return false;
        if (page == w.ethernetPage())
            w.ethernetPage()->chooseDirection(index);
        else
            w.ipPage()->chooseDirection(index);
    } else {
        return false;
    }
    return true;
}

} // namespace

class TestFilterWizard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void opensOnTheWelcomePage() {
        CFilterWizard w(captureFile());
        QCOMPARE(w.windowTitle(), QStringLiteral("Filter Option"));
        QCOMPARE(w.currentPage(), int(CFilterWizard::Welcome));
        QVERIFY(w.welcomePage()->yes()->isChecked());
        QVERIFY(w.nextButton()->isEnabled());
        QVERIFY(!w.finishButton()->isEnabled());
        QVERIFY(!w.backButton()->isEnabled());
        // Ethernet page at rest: "All" and the types checked, the types and
        // the address controls disabled.
        CEthernetFilterPage* e = w.ethernetPage();
        QVERIFY(e->all()->isChecked() && e->broadcast()->isChecked() &&
                e->multicast()->isChecked());
        QVERIFY(!e->broadcast()->isEnabled() && !e->mac()->isEnabled() &&
                !e->direction()->isEnabled() && !e->addressBook()->isEnabled());
        QCOMPARE(e->mac()->text(), QStringLiteral("00:00:00:00:00:00"));
        QCOMPARE(e->direction()->count(), 4);
        QCOMPARE(e->direction()->itemText(3), QStringLiteral("src"));
    }

    void scripts_data() {
        QTest::addColumn<QString>("adapter");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("expression");
        QTest::addColumn<bool>("next");
        QTest::addColumn<bool>("finish");
        const QString file = captureFile();
        const auto row = [&](const char* name, const QString& adapter, const char* steps,
                             const char* expression, bool next, bool finish) {
            QTest::newRow(name) << adapter
                                << QString::fromLatin1(steps).split(QLatin1Char('|'),
                                                                    Qt::SkipEmptyParts)
                                << QString::fromLatin1(expression) << next << finish;
        };
        row("No on the welcome page", file, "no", "", false, true);
        row("Yes, Next, Finish with All", file, "next", "", true, true);
        row("All unchecked", file, "next|box:All", "", false, false);
        row("ether src", file, "next|box:All|mac:00:11:22:33:44:55|dir:src",
            "ether src 00:11:22:33:44:55", false, true);
        // Built as the rule says, but libpcap wants a direction after "ether".
        row("empty direction", file,
            "next|box:All|mac:00:11:22:33:44:55|dir:", "ether  00:11:22:33:44:55", false, false);
        // The expression follows every edit of the MAC, also after the direction.
        row("direction before the MAC", file, "next|box:All|dir:src|mac:00:11:22:33:44:55",
            "ether src 00:11:22:33:44:55", false, true);
        row("MAC edited after the direction", file,
            "next|box:All|mac:00:11:22:33:44:55|dir:dst|mac:66", "ether dst 66:11:22:33:44:55",
            false, true);
        // MAC addresses are hexadecimal.
        row("hexadecimal letters in the MAC", file, "next|box:All|mac:57a57aBF|dir:host",
            "ether host 57:a5:7a:BF:00:00", false, true);
        row("widest hexadecimal MAC shown whole", file, "next|box:All|mac:DDDDDDDDDDDD|dir:host",
            "ether host DD:DD:DD:DD:DD:DD", false, true);
        row("direction chosen again", file, "next|box:All|dir:src|mac:00:11:22:33:44:55|dir:src",
            "ether src 00:11:22:33:44:55", false, true);
        row("broadcast MAC from the book", file, "next|box:All|pick:ff:ff:ff:ff:ff:ff,-|dir:host",
            "", false, false);
        row("ether multicast", file, "next|box:All|box:Multicast", "ether multicast", false, true);
        row("ether broadcast off again", file, "next|box:All|box:Broadcast|box:Broadcast", "",
            false, false);
        row("decnet", file, "next|next|box:All|box:DEC NET", "decnet", false, true);
        row("decnet on and off", file, "next|next|box:All|box:DEC NET|box:DEC NET", "", false,
            false);
        row("version 6", file, "next|next|next|box:version 6", "ip6", false, true);
        row("version 4 then Both", file, "next|next|next|box:version 4|box:Both", "", false, true);
        row("ip host from the book", file,
            "next|next|next|box:version 4|box:All|pick:-,10.1.2.3|dir:host", "ip host 10.1.2.3",
            false, true);
        row("ip without a netmask", file, "next|next|next|box:version 4|box:All|box:Broadcast",
            "ip broadcast", false, false);
        row("ip broadcast on lo", QStringLiteral("lo"),
            "next|next|next|box:version 4|box:All|box:Broadcast", "ip broadcast", false, true);
        row("Ethernet page takes precedence", file,
            "next|next|box:All|box:ARP|back|box:All|box:Multicast", "ether multicast", false, true);
        row("No after choosing", file, "next|box:All|box:Broadcast|back|no", "", false, true);
    }

    void scripts() {
        QFETCH(QString, adapter);
        QFETCH(QStringList, steps);
        QFETCH(QString, expression);
        QFETCH(bool, next);
        QFETCH(bool, finish);
        CFilterWizard w(adapter);
        PickedNode picked;
        w.setNodePicker([&](QWidget*) { return picked; });
        for (const QString& step : steps)
            QVERIFY2(play(w, step, picked), qPrintable(step));
        QCOMPARE(w.expression(), expression);
        // The MAC field shows its whole text (its frame and the edit's 2-pixel
        // margins aside); only the page shown is laid out.
        if (w.currentPage() == CFilterWizard::Ethernet) {
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            CMaskEdit* mac = w.ethernetPage()->mac();
            const int frame = mac->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, mac);
            QVERIFY2(mac->fontMetrics().horizontalAdvance(mac->text()) <=
                         mac->width() - 2 * frame - 4,
                     qPrintable(mac->text()));
        }
        QCOMPARE(w.nextButton()->isEnabled(), next);
        QCOMPARE(w.finishButton()->isEnabled(), finish);
        // The expression is shown, green when it compiles, red with
        // libpcap's reason when it does not.
        const QString shown = w.expressionLabel()->text();
        QVERIFY2(expression.isEmpty() || shown.contains(expression), qPrintable(shown));
        const QColor colour = w.expressionLabel()->palette().color(QPalette::WindowText);
        QCOMPARE(colour.green() > colour.red(), w.compileError().isEmpty());
        if (!w.compileError().isEmpty())
            QVERIFY2(shown.contains(w.compileError()), qPrintable(shown));

        w.finish();
        QCOMPARE(w.result() == QDialog::Accepted, finish);
    }

    void analyzerFilterButtonRunsTheWizard_data() {
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QString>("expression");
        QTest::newRow("finished") << true << "udp";
        QTest::newRow("finished empty") << true << "";
        QTest::newRow("cancelled") << false << "";
    }

    void analyzerFilterButtonRunsTheWizard() {
        QFETCH(bool, finished);
        QFETCH(QString, expression);
        const QString before = QStringLiteral("arp");
        SettingsStore().writeString(setting::filter, before);
        app::setSelectedAdapter(captureFile());
        CMainFrame frame(builtinViews());
        QVERIFY(frame.switchToView(view::CaptureDecode));
        auto* view = qobject_cast<CCaptureDecodeView*>(frame.activeView());
        QVERIFY(view);
        int runs = 0;
        view->setFilterWizardRunner([&](QWidget*) -> std::optional<QString> {
            ++runs;
            return finished ? std::optional<QString>(expression) : std::nullopt;
        });
        frame.updateCommandUi();
        QAction* button = frame.viewToolBar()->actions().at(1);
        QVERIFY(button->isEnabled());
        button->trigger();
        QCOMPARE(runs, 1);
        const QString now = finished ? expression : before;
        QCOMPARE(view->filter(), now);
        QCOMPARE(SettingsStore().string(setting::filter), now);
        QVERIFY(view->isCapturing());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestFilterWizard)
#include "tst_filter_wizard.moc"
