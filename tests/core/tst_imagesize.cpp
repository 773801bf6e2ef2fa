// The camera image size every region scale and Bayer frame divides by: never 0, and fixed by the
// first camera that opens.

#include "imagesize.h"

#include <QtTest>

class TestImageSize : public QObject
{
    Q_OBJECT
private slots:
    void firstOpenedCameraFixesTheImageSize()
    {
        // Before any camera opens the size is a usable default.
        QCOMPARE(gImageW, 1280);
        QCOMPARE(gImageH, 1024);

        // A camera that reports no size does not take the default away.
        setImageSizeFromCamera(0, 480);
        setImageSizeFromCamera(640, -1);
        QCOMPARE(gImageW, 1280);
        QCOMPARE(gImageH, 1024);

        setImageSizeFromCamera(640, 480);
        QCOMPARE(gImageW, 640);
        QCOMPARE(gImageH, 480);

        // Later cameras do not change it.
        setImageSizeFromCamera(2448, 2048);
        QCOMPARE(gImageW, 640);
        QCOMPARE(gImageH, 480);
    }
};

QTEST_GUILESS_MAIN(TestImageSize)
#include "tst_imagesize.moc"
