#include "core/app/toolbar_art.h"

#include <QGuiApplication>
#include <QTest>

using namespace qarsilo;

// The toolbar images: five per strip, 32 x 32, drawn (not blank), with a
// transparent surround so they sit on any toolbar colour.
class TestToolbarArt : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void strips_data() {
        QTest::addColumn<int>("strip");
        QTest::addColumn<int>("state");
        for (int strip : {0, 1})
            for (int state : {0, 1, 2})
                QTest::addRow("strip %d state %d", strip, state) << strip << state;
    }

    void strips() {
        QFETCH(int, strip);
        QFETCH(int, state);
        const auto images = toolbarImages(ToolbarStrip(strip), ImageState(state));
        QCOMPARE(images.size(), 5);
        for (int i = 0; i < images.size(); ++i) {
            const QImage& img = images[i];
            QCOMPARE(img.size(), QSize(32, 32));
            QVERIFY(img.hasAlphaChannel());
            QCOMPARE(qAlpha(img.pixel(0, 0)), 0);
            int opaque = 0;
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 32; ++x)
                    opaque += qAlpha(img.pixel(x, y)) > 0;
            QVERIFY2(opaque > 60, qPrintable(QStringLiteral("image %1 is nearly empty").arg(i)));
            for (int j = 0; j < i; ++j)
                QVERIFY2(images[j] != img, "two buttons share one image");
        }
    }

    void disabledImagesAreGrey() {
        for (ToolbarStrip strip : {ToolbarStrip::Main, ToolbarStrip::View})
            for (const QImage& img : toolbarImages(strip, ImageState::Disabled))
                for (int y = 0; y < 32; ++y)
                    for (int x = 0; x < 32; ++x) {
                        const QColor c = QColor::fromRgba(img.pixel(x, y));
                        if (c.alpha() > 0)
                            QVERIFY(qAbs(c.red() - c.green()) <= 2 &&
                                    qAbs(c.green() - c.blue()) <= 2);
                    }
    }
};

QTEST_GUILESS_MAIN(TestToolbarArt)
#include "tst_toolbar_art.moc"
