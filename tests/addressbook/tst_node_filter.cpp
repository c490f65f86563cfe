#include "core/addressbook/node_filter.h"

#include <QLocale>
#include <QTest>

using namespace qarsilo;

namespace {
NodeRecord nodeWith(const char* name, const char* ip, const char* workgroup, const char* location,
                    const char* subnet) {
    NodeRecord n;
    n.name = QString::fromLatin1(name);
    n.ip = QString::fromLatin1(ip);
    n.workgroup = QString::fromLatin1(workgroup);
    n.location = QString::fromLatin1(location);
    n.subnet = QString::fromLatin1(subnet);
    return n;
}
} // namespace

class TestNodeFilter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void treeItems_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value");
        using K = NodeFilter::Kind;
        QTest::newRow("All") << "All"
                             << "" << int(K::All) << "";
        QTest::newRow("a group named All") << "All"
                                           << "By Workgroup" << int(K::All) << "";
        QTest::newRow("branch By Location") << "By Location"
                                            << "" << int(K::Unchanged) << "";
        QTest::newRow("branch By Workgroup") << "By Workgroup"
                                             << "" << int(K::Unchanged) << "";
        QTest::newRow("branch By Ip Range") << "By Ip Range"
                                            << "" << int(K::Unchanged) << "";
        QTest::newRow("a group named like a branch") << "By Location"
                                                     << "By Workgroup" << int(K::Unchanged) << "";
        QTest::newRow("empty") << ""
                               << "By Workgroup" << int(K::Unchanged) << "";
        QTest::newRow("workgroup") << "OFFICE"
                                   << "By Workgroup" << int(K::Workgroup) << "OFFICE";
        QTest::newRow("location") << "Lab"
                                  << "By Location" << int(K::Location) << "Lab";
        QTest::newRow("ip range") << "10.0.0.0"
                                  << "By Ip Range" << int(K::IpRange) << "10.0.0.0";
        QTest::newRow("unknown parent") << "x"
                                        << "Elsewhere" << int(K::Unchanged) << "";
        QTest::newRow("branch text in other case is a group")
            << "all"
            << "By Workgroup" << int(K::Workgroup) << "all";
    }

    void treeItems() {
        QFETCH(QString, text);
        QFETCH(QString, parent);
        QFETCH(int, kind);
        QFETCH(QString, value);
        const NodeFilter f = NodeFilter::forTreeItem(text, parent);
        QCOMPARE(int(f.kind), kind);
        QCOMPARE(f.value, value);
    }

    void matching_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("matches");
        using K = NodeFilter::Kind;
        // The node: name "Server01", ip "10.10.0.5", workgroup "Office",
        // location "Lab 2", subnet "10.10.0.0".
        QTest::newRow("workgroup, case aside") << int(K::Workgroup) << "OFFICE" << true;
        QTest::newRow("workgroup is whole") << int(K::Workgroup) << "Off" << false;
        QTest::newRow("location, case aside") << int(K::Location) << "lab 2" << true;
        QTest::newRow("ip range") << int(K::IpRange) << "10.10.0.0" << true;
        QTest::newRow("other ip range") << int(K::IpRange) << "10.1.0.0" << false;
        QTest::newRow("name start, lower case") << int(K::Name) << "serv" << true;
        QTest::newRow("name is a start only") << int(K::Name) << "erver" << false;
        QTest::newRow("name longer than the node's") << int(K::Name) << "Server012" << false;
        QTest::newRow("address prefix as text") << int(K::Address) << "10.1" << true;
        QTest::newRow("address prefix") << int(K::Address) << "10.10.0" << true;
        QTest::newRow("address other") << int(K::Address) << "10.2" << false;
        QTest::newRow("all") << int(K::All) << "" << true;
    }

    void matching() {
        QFETCH(int, kind);
        QFETCH(QString, value);
        QFETCH(bool, matches);
        const NodeRecord n = nodeWith("Server01", "10.10.0.5", "Office", "Lab 2", "10.10.0.0");
        const NodeFilter filter{NodeFilter::Kind(kind), value};
        QCOMPARE(filter.matches(n), matches);
        // The window filters the rows it shows, the texts of each node.
        QCOMPARE(filter.matches(n.texts()), matches);
    }

    void nameSearch() {
        QCOMPARE(int(NodeFilter::forName(QString()).kind), int(NodeFilter::Kind::All));
        QCOMPARE(int(NodeFilter::forName(QStringLiteral("a")).kind), int(NodeFilter::Kind::Name));
    }

    void addressPrefix_data() {
        QTest::addColumn<QList<int>>("fields");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("blank") << QList<int>{0, 0, 0, 0} << "";
        QTest::newRow("first") << QList<int>{10, 0, 0, 0} << "10";
        QTest::newRow("two") << QList<int>{192, 168, 0, 0} << "192.168";
        QTest::newRow("ends at the last non-zero") << QList<int>{10, 0, 5, 0} << "10.0.5";
        QTest::newRow("all four") << QList<int>{192, 168, 1, 5} << "192.168.1.5";
        QTest::newRow("only the fourth") << QList<int>{0, 0, 0, 7} << "0.0.0.7";
    }

    void addressPrefix() {
        QFETCH(QList<int>, fields);
        QFETCH(QString, prefix);
        QCOMPARE(addressSearchPrefix(fields[0], fields[1], fields[2], fields[3]), prefix);
        const NodeFilter f = NodeFilter::forAddress(fields[0], fields[1], fields[2], fields[3]);
        QCOMPARE(int(f.kind),
                 int(prefix.isEmpty() ? NodeFilter::Kind::All : NodeFilter::Kind::Address));
    }

    // 192.168.0.0 finds every address whose text starts with 192.168.
    void addressSearchIsTextual() {
        const NodeFilter f = NodeFilter::forAddress(192, 168, 0, 0);
        QVERIFY(f.matches(nodeWith("", "192.168.1.5", "", "", "")));
        QVERIFY(f.matches(nodeWith("", "192.1680.0.1", "", "", "")));
        QVERIFY(!f.matches(nodeWith("", "192.169.0.1", "", "", "")));
    }

    void dateTextIsEnglishWhateverTheLocale() {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QDateTime t(QDate(2026, 3, 7), QTime(9, 5, 3));
        QCOMPARE(nodeDateText(t), QStringLiteral("07 Mar 2026, 09:05:03"));
        QCOMPARE(nodeDateText(QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59))),
                 QStringLiteral("31 Dec 1999, 23:59:59"));
        QLocale::setDefault(before);
    }

    void addressTexts() {
        QCOMPARE(ipv4Text(192, 168, 100, 27), QStringLiteral("192.168.100.27"));
        QCOMPARE(subnetText(192, 168, 100), QStringLiteral("192.168.100.0"));
        QCOMPARE(ipv4Text(0, 0, 0, 0), QStringLiteral("0.0.0.0"));
    }
};

QTEST_GUILESS_MAIN(TestNodeFilter)
#include "tst_node_filter.moc"
