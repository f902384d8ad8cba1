#include "resources/resources.h"
#include "tests/controls/controls_test_main.h"

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QTest>

class ResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void jpegPluginIsPresent()
    {
        QVERIFY(QImageReader::supportedImageFormats().contains("jpeg"));
    }

    void everyPictureLoadsAtItsSize_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");
        QTest::newRow("banner") << "banner.jpg" << QSize(500, 65);
        QTest::newRow("about title") << "about_title.jpg" << QSize(246, 32);
        QTest::newRow("about picture") << "about_picture.jpg" << QSize(115, 157);
        for (const char *glyph : {"start", "stop", "getdata", "research", "cancel"})
            QTest::newRow(glyph) << QString::fromLatin1(glyph) + QStringLiteral(".png") << QSize(20, 20);
        for (int index = 0; index <= 6; ++index)
            QTest::newRow(qPrintable(QStringLiteral("menu%1").arg(index)))
                << QStringLiteral("menu%1.png").arg(index) << QSize(16, 16);
        QTest::newRow("icon") << "kelvora.png" << QSize(128, 128);
    }

    void everyPictureLoadsAtItsSize()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        QImageReader reader(QStringLiteral(":/images/") + name);
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), size);
        // The pictures are drawn, not blank.
        QVERIFY(image.pixel(0, 0) != image.pixel(size.width() / 2, size.height() / 2)
                || image.pixel(size.width() / 2, size.height() / 2) != image.pixel(size.width() / 3, size.height() / 4));
    }
};

KELVORA_CONTROLS_TEST_MAIN(ResourcesTest)

#include "resources_test.moc"
