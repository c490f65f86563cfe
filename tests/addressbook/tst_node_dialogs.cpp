#include "gui/addressbook/add_node_dlg.h"
#include "gui/addressbook/book_location_dlg.h"
#include "gui/addressbook/group_editor_dlg.h"
#include "gui/addressbook/new_info_dlg.h"
#include "gui/addressbook/node_info_dlg.h"
#include "gui/widgets/ip_address_edit.h"
#include "gui/widgets/mask_edit.h"
#include "gui/widgets/report_list.h"
#include "support/address_test_util.h"
#include "support/scripted_message_service.h"
#include "support/test_util.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;
using Answer = MessageService::Answer;

namespace {

QStringList column(CReportList* list) {
    QStringList out;
    for (int r = 0; r < list->rowCount(); ++r)
        out << list->text(r, 0);
    return out;
}

QStringList labels(QWidget* w) {
    QStringList out;
    for (QLabel* l : w->findChildren<QLabel*>())
        out << l->text();
    return out;
}

} // namespace

class TestNodeDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_settingsDir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_file = m_dir->filePath(QStringLiteral("address.mdb"));
        m_messages = std::make_unique<ScriptedMessageService>();
    }

    void cleanup() {
        QCOMPARE(m_messages->unansweredQuestions(), 0);
        m_messages.reset();
    }

    void addNewNodeLooksAsSpecified() {
        CAddNodeDlg dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Add New Node"));
        const QStringList shown = labels(&dlg);
        for (const char* l :
             {"MAC Address: ", "IP Address: ", "IPv6 Address ",
              "Name:", "Domain Name:", "Description:", "Date && Time:", "Location:", "Workgroup:"})
            QVERIFY2(shown.contains(QString::fromLatin1(l)), l);
        QCOMPARE(dlg.macField()->text(), QStringLiteral("00:00:00:00:00:00"));
        QCOMPARE(dlg.macField()->mask(), QStringLiteral("99:99:99:99:99:99"));
        QCOMPARE(dlg.macField()->templateText(), QStringLiteral("__:__:__:__:__:__"));
        QCOMPARE(dlg.ipv6Field()->text(),
                 QStringLiteral("0000:0000:0000:0000:0000:0000:0000:0000"));
        QVERIFY(dlg.dateField()->isReadOnly());
        QCOMPARE(dlg.descriptionField()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }

    // IP and SUBNET come from the address control on OK.
    void addressAndRange_data() {
        QTest::addColumn<QList<int>>("fields"); // -1: left blank
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("subnet");
        QTest::newRow("blank") << QList<int>{-1, -1, -1, -1} << "0.0.0.0"
                               << "0.0.0.0";
        QTest::newRow("full") << QList<int>{192, 168, 100, 27} << "192.168.100.27"
                              << "192.168.100.0";
        QTest::newRow("partly blank") << QList<int>{10, -1, 7, -1} << "10.0.7.0"
                                      << "10.0.7.0";
    }

    void addressAndRange() {
        QFETCH(QList<int>, fields);
        QFETCH(QString, ip);
        QFETCH(QString, subnet);
        CAddNodeDlg dlg;
        for (int i = 0; i < 4; ++i)
            if (fields[i] >= 0)
                dlg.ipField()->fieldEdit(i)->setText(QString::number(fields[i]));
        dlg.accept();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.node().ip, ip);
        QCOMPARE(dlg.node().subnet, subnet);
    }

    void addNewNodeHandsBackWhatWasTyped() {
        CAddNodeDlg dlg;
        dlg.setDate(QStringLiteral("07 Dec 2026, 08:00:00"));
        dlg.setMac(QStringLiteral("00:1b:21:3a:4f:02"));
        dlg.setIpv6(QString()); // none given: the zero address
        dlg.macField()->setCursorPosition(15);
        QTest::keyClicks(dlg.macField(), QStringLiteral("Fz"));
        dlg.ipv6Field()->setCursorPosition(0);
        QTest::keyClicks(dlg.ipv6Field(), QStringLiteral("FE80"));
        dlg.nameField()->setText(QStringLiteral("PC"));
        dlg.domainField()->setText(QStringLiteral("lan"));
        dlg.descriptionField()->setPlainText(QStringLiteral("a\nb"));
        dlg.locationField()->setText(QStringLiteral("Room 1"));
        dlg.workgroupField()->setText(QStringLiteral("WG"));
        dlg.accept();
        const NodeRecord n = dlg.node();
        // Hex letters are taken beside digits and kept in lower case.
        QCOMPARE(n.mac, QStringLiteral("00:1b:21:3a:4f:f2"));
        QCOMPARE(n.ipv6, QStringLiteral("fe80:0000:0000:0000:0000:0000:0000:0000"));
        QCOMPARE(n.date, QStringLiteral("07 Dec 2026, 08:00:00"));
        QCOMPARE(n.name, QStringLiteral("PC"));
        QCOMPARE(n.domainName, QStringLiteral("lan"));
        QCOMPARE(n.description, QStringLiteral("a\nb"));
        QCOMPARE(n.location, QStringLiteral("Room 1"));
        QCOMPARE(n.workgroup, QStringLiteral("WG"));
        QCOMPARE(n.type, QString());
    }

    void cancelledAddNewNodeGivesNothing() {
        CAddNodeDlg dlg;
        dlg.nameField()->setText(QStringLiteral("PC"));
        dlg.reject();
        QCOMPARE(dlg.node(), NodeRecord());
    }

    void nodeInfoRoundTrip() {
        CNodeInfoDlg dlg;
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Node Info"));
        const NodeRecord n = node("00:00:00:00:00:05", "10.0.0.5", "PC5", "WG", "Lab");
        dlg.setNode(n);
        QCOMPARE(dlg.node(), n);
        QVERIFY(labels(&dlg).contains(QStringLiteral("Subnet:")));
        QVERIFY(labels(&dlg).contains(QStringLiteral("IPv6 Address")));
        dlg.ipv6Field()->setText(QStringLiteral("anything"));
        dlg.subnetField()->setText(QStringLiteral("10.0.0.0/8"));
        const NodeRecord edited = dlg.node();
        QCOMPARE(edited.ipv6, QStringLiteral("anything"));
        QCOMPARE(edited.subnet, QStringLiteral("10.0.0.0/8"));
        QCOMPARE(edited.mac, n.mac);
        QCOMPARE(edited.domainName, n.domainName);
        QCOMPARE(edited.type, n.type);
    }

    void newInfoReturnsTheAnswerAsTyped() {
        CNewInfoDlg dlg(QStringLiteral("New location name?"));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("New Info"));
        QCOMPARE(dlg.prompt(), QStringLiteral("New location name?"));
        QTest::keyClicks(dlg.answerField(), QStringLiteral("  spaced  "));
        QCOMPARE(dlg.answer(), QStringLiteral("  spaced  "));
    }

    void groupEditorShowsTheThreeTables() {
        store(m_file, {node("00:00:00:00:00:01", "10.0.0.1", "A", "WG2", "Lab"),
                       node("00:00:00:00:00:02", "10.0.1.1", "B", "WG1", "Hall")});
        CGroupEditorDlg dlg(nullptr, m_file);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Edit Menu"));
        for (GroupTable t : {GroupTable::Location, GroupTable::Workgroup, GroupTable::Subnet}) {
            QAbstractItemModelTester tester(dlg.list(t)->model(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            QCOMPARE(dlg.list(t)->columnWidth(0), 130);
            QVERIFY(dlg.list(t)->showGrid());
            QCOMPARE(dlg.addButton(t)->text(), QStringLiteral("Add"));
            QCOMPARE(dlg.deleteButton(t)->text(), QStringLiteral("Delete"));
        }
        QCOMPARE(dlg.list(GroupTable::Location)->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("Location"));
        QCOMPARE(dlg.list(GroupTable::Workgroup)->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("Workgroup"));
        QCOMPARE(dlg.list(GroupTable::Subnet)->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("Local IP Range"));
        // Table order, not sorted.
        QCOMPARE(column(dlg.list(GroupTable::Workgroup)), words({"WG2", "WG1"}));
        QCOMPARE(column(dlg.list(GroupTable::Location)), words({"Lab", "Hall"}));
        QCOMPARE(column(dlg.list(GroupTable::Subnet)), words({"10.0.0.0", "10.0.1.0"}));
        QCOMPARE(dlg.doneButton()->text(), QStringLiteral("Done"));
        // Left to right: locations, workgroups, IP ranges.
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.list(GroupTable::Location)->x() < dlg.list(GroupTable::Workgroup)->x());
        QVERIFY(dlg.list(GroupTable::Workgroup)->x() < dlg.list(GroupTable::Subnet)->x());
    }

    // Add: the answer exactly as typed, unless already there; the list is
    // read again whatever the answer.
    void groupAdd_data() {
        QTest::addColumn<int>("table");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("after");
        const int wg = int(GroupTable::Workgroup);
        const int sub = int(GroupTable::Subnet);
        const int loc = int(GroupTable::Location);
        QTest::newRow("existing workgroup, same case")
            << wg << "New workgroup name?" << true << "WG" << words({"WG"});
        QTest::newRow("workgroup in other case")
            << wg << "New workgroup name?" << true << "wg" << words({"WG", "wg"});
        QTest::newRow("an IP range need not be an address")
            << sub << "New IP Range (exp:192.168.100.0)" << true << "abc"
            << words({"10.0.0.0", "abc"});
        QTest::newRow("empty answer is a name")
            << loc << "New location name?" << true << "" << words({"Lab", ""});
        QTest::newRow("no trimming")
            << loc << "New location name?" << true << " Lab " << words({"Lab", " Lab "});
        QTest::newRow("cancelled") << loc << "New location name?" << false << "" << words({"Lab"});
    }

    void groupAdd() {
        QFETCH(int, table);
        QFETCH(QString, prompt);
        QFETCH(bool, answered);
        QFETCH(QString, answer);
        QFETCH(QStringList, after);
        store(m_file, {node("00:00:00:00:00:01", "10.0.0.1", "A", "WG", "Lab")});
        CGroupEditorDlg dlg(nullptr, m_file);
        const auto t = GroupTable(table);
        QString asked;
        dlg.setPrompt([&](QWidget*, const QString& p) -> std::optional<QString> {
            asked = p;
            if (!answered)
                return std::nullopt;
            return answer;
        });
        // Another window adds a name meanwhile: the reload shows it even when
        // the operator cancels.
        AddressDatabase other(m_file);
        QVERIFY(other.open());
        QVERIFY(other.addGroupIfAbsent(t, QStringLiteral("LATE")));
        QTest::mouseClick(dlg.addButton(t), Qt::LeftButton);
        QCOMPARE(asked, prompt);
        QStringList expected = after;
        expected.insert(1, QStringLiteral("LATE"));
        QCOMPARE(groupsIn(m_file, t), expected);
        QCOMPARE(column(dlg.list(t)), expected);
        QVERIFY(m_messages->shown().isEmpty());
    }

    void groupDelete_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("OK") << int(Answer::Ok) << words({"WG1", "WG3"});
        QTest::newRow("Cancel") << int(Answer::Cancel) << words({"WG1", "WG2", "WG3"});
    }

    void groupDelete() {
        QFETCH(int, answer);
        QFETCH(QStringList, after);
        store(m_file, {node("00:00:00:00:00:01", "10.0.0.1", "A", "WG1")}, words({"WG2", "WG3"}));
        CGroupEditorDlg dlg(nullptr, m_file);
        CReportList* list = dlg.list(GroupTable::Workgroup);
        list->selectRow(1);
        m_messages->answerNext(Answer(answer));
        QTest::mouseClick(dlg.deleteButton(GroupTable::Workgroup), Qt::LeftButton);
        QCOMPARE(m_messages->shown().size(), 1);
        QCOMPARE(m_messages->shown()[0].text, QStringLiteral("WG2\nsure?"));
        QCOMPARE(m_messages->shown()[0].caption, QStringLiteral("Delete Confirmation"));
        QCOMPARE(m_messages->shown()[0].buttons, MessageService::Buttons::OkCancel);
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), after);
        QCOMPARE(column(list), after);
        // The node that carries the name keeps it.
        QCOMPARE(nodesIn(m_file).first().workgroup, QStringLiteral("WG1"));
    }

    void groupDeleteWithoutSelectionDeletesNothing() {
        store(m_file, {node("00:00:00:00:00:01", "10.0.0.1", "A", "WG1")});
        CGroupEditorDlg dlg(nullptr, m_file);
        dlg.list(GroupTable::Workgroup)->clearSelection();
        dlg.deleteFrom(GroupTable::Workgroup);
        QCOMPARE(m_messages->shown().size(), 1);
        QCOMPARE(m_messages->shown()[0].text, QStringLiteral("No item selected"));
        QCOMPARE(groupsIn(m_file, GroupTable::Workgroup), words({"WG1"}));
    }

    void doneCloses() {
        CGroupEditorDlg dlg(nullptr, m_file);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mouseClick(dlg.doneButton(), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
    }

    // "Browse..." beside the location: a file dialog for a book file that
    // starts where the field points (nowhere for a server) and fills the field.
    void bookLocationBrowse_data() {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("startsAtCurrent");
        QTest::addColumn<QString>("after");
        QTest::newRow("file chosen") << QStringLiteral("old.mdb") << QStringLiteral("new.mdb")
                                     << true << QStringLiteral("new.mdb");
        QTest::newRow("cancelled keeps the text")
            << QStringLiteral("old.mdb") << QString() << true << QStringLiteral("old.mdb");
        QTest::newRow("from a server URL")
            << QStringLiteral("postgresql://u:pw@db.example/book") << QStringLiteral("new.mdb")
            << false << QStringLiteral("new.mdb");
    }

    void bookLocationBrowse() {
        QFETCH(QString, current);
        QFETCH(QString, chosen);
        QFETCH(bool, startsAtCurrent);
        QFETCH(QString, after);
        const QString currentPath =
            current.contains(QLatin1String("://")) ? current : m_dir->filePath(current);
        const QString chosenPath = chosen.isEmpty() ? chosen : m_dir->filePath(chosen);
        const QString afterPath =
            after.contains(QLatin1String("://")) ? after : m_dir->filePath(after);
        QString startedAt = QStringLiteral("(not asked)");
        CBookLocationDlg::setFileChooser([&](QWidget*, const QString& start) {
            startedAt = start;
            return chosenPath;
        });
        CBookLocationDlg dlg(nullptr, currentPath);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QPushButton* browse = nullptr;
        for (QPushButton* b : dlg.findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("&Browse..."))
                browse = b;
        QVERIFY(browse && browse->isVisible());
        // Beside the field, neither clipped nor covering it.
        const QRect field = dlg.field()->geometry();
        QVERIFY(!field.intersects(browse->geometry()));
        QVERIFY(browse->width() >= browse->sizeHint().width());
        QTest::mouseClick(browse, Qt::LeftButton);
        CBookLocationDlg::setFileChooser({});
        QCOMPARE(startedAt, startsAtCurrent ? currentPath : QString());
        QCOMPARE(dlg.field()->text(), afterPath);
        QVERIFY(dlg.isVisible());
    }

private:
    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
    std::unique_ptr<ScriptedMessageService> m_messages;
};

QTEST_MAIN(TestNodeDialogs)
#include "tst_node_dialogs.moc"
