// The capturing views' shared Start and Stop: which buttons the toolbar
// shows, which commands are offered, and that a command that is not offered
// does nothing, for both styles of toolbar.

#include "core/app/commands.h"
#include "gui/shell/capture_view.h"
#include "support/fake_view_host.h"

#include <QTest>

using namespace qarsilo;
using namespace qarsilo::test;

Q_DECLARE_METATYPE(CCaptureView::StartStop)

namespace {

class CountingView : public CCaptureView {
public:
    CountingView(StartStop style, QList<ViewButton> extra)
        : CCaptureView(view::GeneralInfo, style, std::move(extra)) {}
    bool isCapturing() const override { return capturing; }
    void refresh() { setButtons(); }

    bool capturing = false;
    int starts = 0;
    int stops = 0;
    QList<int> viewCommands;

protected:
    bool start() override {
        ++starts;
        capturing = true;
        return true;
    }
    void stop() override {
        ++stops;
        capturing = false;
    }
    bool onViewCommand(int command) override {
        viewCommands << command;
        return command == cmd::AddressBookPlus;
    }
    bool isViewCommandEnabled(int command) const override {
        return command == cmd::AddressBookPlus;
    }
};

const QList<ViewButton> kExtra{{cmd::AddressBookPlus, viewimage::AddressBookPlus}};

} // namespace

class TestCaptureView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void buttonsAndCommands_data() {
        QTest::addColumn<CCaptureView::StartStop>("style");
        QTest::addColumn<bool>("capturing");
        QTest::addColumn<QList<int>>("buttons");
        QTest::addColumn<bool>("startOffered");
        QTest::addColumn<bool>("stopOffered");
        using S = CCaptureView::StartStop;
        const int start = cmd::Start, stop = cmd::Stop, book = cmd::AddressBookPlus;
        QTest::newRow("toggle, stopped")
            << S::Toggle << false << QList<int>{start, book} << true << false;
        QTest::newRow("toggle, capturing")
            << S::Toggle << true << QList<int>{stop, book} << false << true;
        QTest::newRow("both, stopped")
            << S::Both << false << QList<int>{start, stop, book} << true << false;
        // Start stays offered while capturing: it re-reads the view's fields.
        QTest::newRow("both, capturing")
            << S::Both << true << QList<int>{start, stop, book} << true << true;
    }
    void buttonsAndCommands() {
        QFETCH(CCaptureView::StartStop, style);
        QFETCH(bool, capturing);
        QFETCH(QList<int>, buttons);
        QFETCH(bool, startOffered);
        QFETCH(bool, stopOffered);

        FakeViewHost host;
        CountingView view(style, kExtra);
        view.initialUpdate(&host);
        view.capturing = capturing;
        view.refresh();
        QCOMPARE(host.buttonCommands(), buttons);
        QCOMPARE(view.isCommandEnabled(cmd::Start), startOffered);
        QCOMPARE(view.isCommandEnabled(cmd::Stop), stopOffered);
        QVERIFY(view.isCommandEnabled(cmd::AddressBookPlus));
        QVERIFY(!view.isCommandEnabled(cmd::BarGraph));

        // A command runs only when it is offered, and says so.
        QCOMPARE(view.onCommand(cmd::Start), startOffered);
        QCOMPARE(view.starts, startOffered ? 1 : 0);
        view.capturing = capturing;
        QCOMPARE(view.onCommand(cmd::Stop), stopOffered);
        QCOMPARE(view.stops, stopOffered ? 1 : 0);
        // Other commands go to the view, Start and Stop never do.
        QVERIFY(view.onCommand(cmd::AddressBookPlus));
        QVERIFY(!view.onCommand(cmd::BarGraph));
        QCOMPARE(view.viewCommands, (QList<int>{cmd::AddressBookPlus, cmd::BarGraph}));
    }
};

QTEST_MAIN(TestCaptureView)
#include "tst_capture_view.moc"
