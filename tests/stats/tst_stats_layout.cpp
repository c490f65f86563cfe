// The statistics views' figures as laid out in the frame: every text has the
// room it needs inside its group, and the colons after the names line up, at
// the views' own font and at a font twice its size.

#include "app/builtin_views.h"
#include "core/addressbook/address_database.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "gui/shell/main_frame.h"
#include "gui/stats/general_info_view.h"
#include "gui/stats/single_node_view.h"
#include "support/capture_test_util.h"
#include "support/chart_frames.h"

#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

namespace {

// A second in September: the longest month name in the peak times.
constexpr long long kStart = 1'695'816'000'000'000; // microseconds

// The x of the rightmost dark pixel of `area` in `image`; -1 when there is none.
int rightmostInk(const QImage& image, const QRect& area) {
    for (int x = area.right(); x >= area.left(); --x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if (qGray(image.pixel(x, y)) < 128)
                return x;
    return -1;
}

QString describe(const QLabel* l) {
    return QStringLiteral("\"%1\" at %2,%3 %4x%5 wants %6x%7")
        .arg(l->text())
        .arg(l->x())
        .arg(l->y())
        .arg(l->width())
        .arg(l->height())
        .arg(l->sizeHint().width())
        .arg(l->sizeHint().height());
}

} // namespace

class TestStatsLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        AddressDatabase::setDefaultFileName(m_dir.filePath(QStringLiteral("address.mdb")));
        // A second of traffic between two stations, one of them watched by the
        // single node view.
        m_path = m_dir.filePath(QStringLiteral("layout.pcap"));
        QByteArray toNode = etherFrame(0x0806, 1514);
        toNode.replace(0, 6, QByteArray("\x02\x00\x00\x00\x00\x09", 6));
        QVERIFY(writeCapture(m_path, DLT_EN10MB,
                             {{kStart, etherFrame(0x0800, 1514)}, {kStart, toNode}}));
        app::setSelectedAdapter(captureFileAdapterName(m_path));
        SettingsStore().writeString(setting::macAddress, QStringLiteral("02:03:04:05:06:07"));
    }

    void cleanup() { m_frame.reset(); }

    void figuresFitAndColonsLineUp_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("fontScale");
        QTest::newRow("general") << int(cmd::General) << 1;
        QTest::newRow("general, double font") << int(cmd::General) << 2;
        QTest::newRow("single node") << int(cmd::Single) << 1;
        QTest::newRow("single node, double font") << int(cmd::Single) << 2;
    }
    void figuresFitAndColonsLineUp() {
        QFETCH(int, command);
        QFETCH(int, fontScale);
        m_frame = std::make_unique<CMainFrame>(builtinViews());
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
        QVERIFY(m_frame->sendCommand(command));
        QWidget* view = m_frame->activeView();
        QVERIFY(view);
        // Figures with their longest texts: a tick after the file was read.
        if (auto* general = qobject_cast<CGeneralInfoView*>(view)) {
            QTRY_COMPARE(general->session().loopEnd(), LoopEnd::EndOfFile);
            general->tick();
            QVERIFY(!general->field(CGeneralInfoView::PeakBpsTime)->text().isEmpty());
        } else {
            auto* node = qobject_cast<CSingleNodeView*>(view);
            QVERIFY(node);
            QTRY_COMPARE(node->session(0).loopEnd(), LoopEnd::EndOfFile);
            QTRY_COMPARE(node->session(1).loopEnd(), LoopEnd::EndOfFile);
            node->tick();
            QVERIFY(!node->field(0, CSingleNodeView::PeakTime)->text().isEmpty());
        }
        if (fontScale != 1) {
            QFont f = view->font();
            f.setPointSizeF(f.pointSizeF() * fontScale);
            view->setFont(f);
        }
        QTest::qWait(50); // the layouts take in the new texts

        const QList<QGroupBox*> boxes = view->findChildren<QGroupBox*>();
        QVERIFY(boxes.size() >= 3);
        QStringList faults;
        int names = 0;
        for (QGroupBox* box : boxes) {
            const QImage picture = box->grab().toImage();
            int colonX = -1;
            for (QLabel* l : box->findChildren<QLabel*>()) {
                if (!l->isVisibleTo(box) || l->text().isEmpty())
                    continue;
                const QRect at(l->mapTo(box, QPoint(0, 0)), l->size());
                if (!box->contentsRect().contains(at) || l->width() < l->sizeHint().width() ||
                    l->height() < l->sizeHint().height())
                    faults << describe(l) + QStringLiteral(": cut");
                if (!l->text().endsWith(QLatin1Char(':')))
                    continue;
                // A name: its colon stands where the others' do.
                ++names;
                const int x = rightmostInk(picture, at);
                if (colonX < 0)
                    colonX = x;
                if (x < 0 || x != colonX)
                    faults << describe(l) +
                                  QStringLiteral(": colon at %1, not %2").arg(x).arg(colonX);
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
        QVERIFY(names >= 12);
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<CMainFrame> m_frame;
};

QTEST_MAIN(TestStatsLayout)
#include "tst_stats_layout.moc"
