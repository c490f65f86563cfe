#include "core/app/app_state.h"
#include "core/capture/adapter_name.h"
#include "gui/shell/select_adapter_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace qarsilo;

namespace {

std::vector<AdapterInfo> threeCards() {
    return {{QStringLiteral("eth0"), QStringLiteral("Ethernet (e1000e), up")},
            {QStringLiteral("eth1"), QStringLiteral("Ethernet (igb), down")},
            {QStringLiteral("lo"), QStringLiteral("Loopback, unknown")}};
}

QStringList selectedNames(QTreeWidget* list) {
    QStringList out;
    for (auto* item : list->selectedItems())
        out << item->text(0);
    return out;
}

void clickRow(QTreeWidget* list, int row) {
    QTreeWidgetItem* item = list->topLevelItem(row);
    const QRect r = list->visualItemRect(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

} // namespace

class TestSelectAdapterDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.isValid());
        m_store = SettingsStore(m_dir.filePath(QStringLiteral("settings.ini")));
        m_store.writeString(setting::adapterName, QStringLiteral("stored-before"));
        app::setSelectedAdapter(QString());
    }

    void looksAsSpecified() {
        CSelectAdapterDlg dlg({}, QString(), m_store);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Select a network adapter"));
        QTreeWidget* list = dlg.list();
        QCOMPARE(list->headerItem()->text(0), QStringLiteral("Network Cards"));
        QCOMPARE(list->headerItem()->text(1), QStringLiteral("Description"));
        QCOMPARE(list->columnWidth(0), 150);
        QCOMPARE(list->columnWidth(1), 289);
        bool labelFound = false;
        for (QLabel* l : dlg.findChildren<QLabel*>())
            labelFound = labelFound || l->text() == QLatin1String("Current network adapter :");
        QVERIFY(labelFound);
        // Nothing to choose from: the field keeps saying so.
        QCOMPARE(dlg.currentField()->text(), QStringLiteral("NONE"));
        QVERIFY(dlg.currentField()->isReadOnly());
    }

    void rowsKeepTheDeviceOrder() {
        CSelectAdapterDlg dlg(threeCards(), QString(), m_store);
        QTreeWidget* list = dlg.list();
        QCOMPARE(list->topLevelItemCount(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(list->topLevelItem(i)->text(0), threeCards()[size_t(i)].name);
            QCOMPARE(list->topLevelItem(i)->text(1), threeCards()[size_t(i)].description);
            QVERIFY(!list->topLevelItem(i)->icon(0).isNull());
        }
    }

    // Which row is chosen when the dialog opens, for the adapter in use.
    void preselection_data() {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("field");
        QTest::newRow("none chosen: first row") << ""
                                                << "eth0"
                                                << "Ethernet (e1000e), up";
        QTest::newRow("exact") << "eth1"
                               << "eth1"
                               << "Ethernet (igb), down";
        QTest::newRow("other case") << "ETH1"
                                    << "eth1"
                                    << "Ethernet (igb), down";
        QTest::newRow("mixed case") << "Lo"
                                    << "lo"
                                    << "Loopback, unknown";
        QTest::newRow("gone since last run: first row") << "eth7"
                                                        << "eth0"
                                                        << "Ethernet (e1000e), up";
    }

    void preselection() {
        QFETCH(QString, current);
        QFETCH(QString, selected);
        QFETCH(QString, field);
        CSelectAdapterDlg dlg(threeCards(), current, m_store);
        QCOMPARE(selectedNames(dlg.list()), QStringList{selected});
        QCOMPARE(dlg.currentAdapter(), selected);
        QCOMPARE(dlg.currentField()->text(), field);
        // Opening the dialog already makes it the adapter of this run...
        QCOMPARE(app::selectedAdapter(), selected);
        // ...but only OK stores it.
        QCOMPARE(m_store.string(setting::adapterName), QStringLiteral("stored-before"));
    }

    void matchSearchesFromTheBottom() {
        // Two devices whose names differ only in case: the lower row wins.
        std::vector<AdapterInfo> cards = {{QStringLiteral("eth1"), QStringLiteral("upper")},
                                          {QStringLiteral("ETH1"), QStringLiteral("lower")}};
        CSelectAdapterDlg dlg(cards, QStringLiteral("Eth1"), m_store);
        QCOMPARE(selectedNames(dlg.list()), QStringList{QStringLiteral("ETH1")});
        QCOMPARE(dlg.currentField()->text(), QStringLiteral("lower"));
    }

    void clickTakesEffectBeforeOk() {
        CSelectAdapterDlg dlg(threeCards(), QString(), m_store);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        clickRow(dlg.list(), 2);
        QCOMPARE(app::selectedAdapter(), QStringLiteral("lo"));
        QCOMPARE(dlg.currentField()->text(), QStringLiteral("Loopback, unknown"));
        QCOMPARE(m_store.string(setting::adapterName), QStringLiteral("stored-before"));

        // Cancel stores nothing; the click still holds for this run.
        dlg.reject();
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(m_store.string(setting::adapterName), QStringLiteral("stored-before"));
        QCOMPARE(app::selectedAdapter(), QStringLiteral("lo"));
    }

    void keyboardMovesTheChoice() {
        CSelectAdapterDlg dlg(threeCards(), QString(), m_store);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.list()->setFocus();
        QTest::keyClick(dlg.list(), Qt::Key_Down);
        QCOMPARE(app::selectedAdapter(), QStringLiteral("eth1"));
        QTest::keyClick(&dlg, Qt::Key_Return);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(m_store.string(setting::adapterName), QStringLiteral("eth1"));
    }

    void okStoresTheChosenRow() {
        CSelectAdapterDlg dlg(threeCards(), QStringLiteral("eth1"), m_store);
        dlg.accept();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(m_store.string(setting::adapterName), QStringLiteral("eth1"));
        QCOMPARE(app::selectedAdapter(), QStringLiteral("eth1"));
    }

    void okWithoutSelectionTakesTheFirstRow() {
        CSelectAdapterDlg dlg(threeCards(), QStringLiteral("lo"), m_store);
        dlg.list()->clearSelection();
        dlg.accept();
        QCOMPARE(m_store.string(setting::adapterName), QStringLiteral("eth0"));
        QCOMPARE(app::selectedAdapter(), QStringLiteral("eth0"));
    }

    void okWithAnEmptyListStoresNothing() {
        app::setSelectedAdapter(QStringLiteral("eth3"));
        CSelectAdapterDlg dlg({}, QStringLiteral("eth3"), m_store);
        QCOMPARE(app::selectedAdapter(), QString());
        dlg.accept();
        QCOMPARE(m_store.string(setting::adapterName), QStringLiteral("stored-before"));
        QCOMPARE(app::selectedAdapter(), QString());
    }

    void doubleClickIsOk() {
        CSelectAdapterDlg dlg(threeCards(), QString(), m_store);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTreeWidget* list = dlg.list();
        const QPoint at = list->visualItemRect(list->topLevelItem(1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
        QCOMPARE(m_store.string(setting::adapterName), QStringLiteral("eth1"));
    }

    void captureFileAdapterIsShownAndKept() {
        const QString file = captureFileAdapterName(QStringLiteral("/data/lan.pcap"));
        CSelectAdapterDlg dlg(threeCards(), file, m_store);
        QTreeWidget* list = dlg.list();
        QCOMPARE(list->topLevelItemCount(), 4);
        QCOMPARE(selectedNames(list), QStringList{file});
        QCOMPARE(dlg.currentField()->text(), QStringLiteral("Capture file /data/lan.pcap"));
        dlg.accept();
        QCOMPARE(m_store.string(setting::adapterName), file);
    }

    // A pipe: source typed beside the cards, reached from the keyboard.
    void commandIsAnAdapter() {
        const QString pipe = QStringLiteral("pipe:ssh s1 tcpdump -U -w -");
        CSelectAdapterDlg dlg(threeCards(), QStringLiteral("eth0"), m_store);
        QVERIFY(dlg.commandField()->toolTip().contains(
            QLatin1String("ssh sensor1 tcpdump -U -w - -i eth1 not port 22")));
        dlg.show();
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QTest::keyClick(&dlg, Qt::Key_P, Qt::AltModifier);
        QVERIFY(dlg.commandField()->hasFocus());
        QTest::keyClicks(dlg.commandField(), pipe.mid(5));
        QVERIFY(dlg.list()->selectedItems().isEmpty());
        QCOMPARE(app::selectedAdapter(), pipe);
        QTest::keyClick(dlg.commandField(), Qt::Key_Return);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(m_store.string(setting::adapterName), pipe);

        // Opened again: the command is its own row, chosen, its text ready to edit;
        // a card clicked afterwards is the choice.
        CSelectAdapterDlg again(threeCards(), pipe, m_store);
        QCOMPARE(selectedNames(again.list()), QStringList{pipe});
        QCOMPARE(again.commandField()->text(), pipe.mid(5));
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        clickRow(again.list(), 1);
        again.accept();
        QCOMPARE(m_store.string(setting::adapterName), QStringLiteral("eth1"));
    }

private:
    QTemporaryDir m_dir;
    SettingsStore m_store{QString()};
};

QTEST_MAIN(TestSelectAdapterDialog)
#include "tst_select_adapter_dialog.moc"
