#include "gui/widgets/ip_address_edit.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

class TestIpAddressEdit : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void typing_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("blank");
        QTest::newRow("dots move on") << "192.168.1.5"
                                      << "192.168.1.5" << false;
        QTest::newRow("three digits move on") << "10020030.40"
                                              << "100.200.30.40" << false;
        QTest::newRow("too large becomes 255") << "300.1"
                                               << "255.1.0.0" << false;
        QTest::newRow("letters are not taken") << "1a2.x3"
                                               << "12.3.0.0" << false;
        QTest::newRow("nothing typed reads 0.0.0.0") << ""
                                                     << "0.0.0.0" << true;
        QTest::newRow("a dot in an empty field stays") << "..7"
                                                       << "7.0.0.0" << false;
        QTest::newRow("backspace goes back a field") << "12.\b\b3"
                                                     << "13.0.0.0" << false;
    }

    void typing() {
        QFETCH(QString, keys);
        QFETCH(QString, address);
        QFETCH(bool, blank);
        CIpAddressEdit edit;
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        edit.activateWindow();
        edit.fieldEdit(0)->setFocus();
        for (QChar c : keys) {
            QWidget* target = QApplication::focusWidget();
            QVERIFY(target);
            if (c == QLatin1Char('\b'))
                QTest::keyClick(target, Qt::Key_Backspace);
            else
                QTest::keyClick(target, c.toLatin1());
        }
        QCOMPARE(edit.addressText(), address);
        QCOMPARE(edit.isBlank(), blank);
    }

    void fieldsReadAsNumbers() {
        CIpAddressEdit edit;
        QSignalSpy changed(&edit, &CIpAddressEdit::fieldChanged);
        edit.setAddress(10, 0, 300, -4);
        QCOMPARE(edit.fields(), (std::array<int, 4>{10, 0, 255, 0}));
        QCOMPARE(changed.count(), 4);
        QCOMPARE(changed.at(2).at(0).toInt(), 2);
        edit.fieldEdit(1)->clear();
        QCOMPARE(edit.field(1), 0);
        QCOMPARE(edit.field(7), 0);
        edit.clear();
        QVERIFY(edit.isBlank());
    }
};

QTEST_MAIN(TestIpAddressEdit)
#include "tst_ip_address_edit.moc"
