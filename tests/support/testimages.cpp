#include "testimages.h"

#include <QVector>

QImage greyIndexedImage(int width, int height, const std::function<int(int x, int y)> &pixel)
{
    QImage image(width, height, QImage::Format_Indexed8);
    QVector<QRgb> grey;
    for (int i = 0; i < 256; ++i)
        grey << qRgb(i, i, i);
    image.setColorTable(grey);
    for (int y = 0; y < image.height(); ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            line[x] = uchar(pixel(x, y));
    }
    return image;
}
