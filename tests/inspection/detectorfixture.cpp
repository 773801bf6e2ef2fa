#include "detectorfixture.h"

DetectorFixture::DetectorFixture(int width, int height, bool colour)
    : m_savedParam(gSysParam), m_savedLimit(gTemplateLimit), m_savedColour(gColorCamera),
      m_savedGrey(gGrayChannel)
{
    gSysParam = &param;
    param.motionCorrect = -1;
    param.angleCorrect = 0;
    param.rotateAngle = 0;
    param.maxOffset = 8000;
    param.diffAmplify = 0;
    gTemplateLimit = 10;
    gColorCamera = colour ? 1 : 0;
    gGrayChannel = 1;
    view.displayScaleX = view.displayScaleY = 1.0f;
    view.setImageGeometry(width, height, colour);
    view.liveTable = new CammerSingleton(0);
    view.editTable = new CammerSingleton(0);
    table = view.liveTable;
}

DetectorFixture::~DetectorFixture()
{
    gSysParam = m_savedParam;
    gTemplateLimit = m_savedLimit;
    gColorCamera = m_savedColour;
    gGrayChannel = m_savedGrey;
}

int DetectorFixture::addRect(int k, QRect image, int function, int p1, int p2, int p3)
{
    const int j = table->roiCount[k]++;
    const int e = CammerSingleton::entry(k, j);
    table->shape[e] = ShapeRect;
    table->function[e] = function;
    table->param1[e] = p1;
    table->param2[e] = p2;
    table->param3[e] = p3;
    RoiRect &r = table->rects[e];
    r.screenRect = image;
    r.setScale(1.0f, 1.0f);
    r.updateImageRect();
    view.roiMasks[k][j] = r.mask();
    return j;
}

int DetectorFixture::addCircle(int k, QPoint centre, int outer, int inner, int function, int p1, int p2,
                               int p3)
{
    const int j = table->roiCount[k]++;
    const int e = CammerSingleton::entry(k, j);
    table->shape[e] = ShapeCircle;
    table->function[e] = function;
    table->param1[e] = p1;
    table->param2[e] = p2;
    table->param3[e] = p3;
    RoiCircle &c = table->circles[e];
    c.centreX = centre.x();
    c.centreY = centre.y();
    c.outerRadius = outer;
    c.innerRadius = inner;
    c.updateGeometry();
    c.setScale(1.0f, 1.0f);
    c.updateImageGeometry();
    view.roiMasks[k][j] = c.mask();
    return j;
}

void DetectorFixture::setTemplate(int k, int n, const cv::Mat &image)
{
    if (!view.templatePresent[k][n])
        ++view.templateCount[k];
    view.templates[k][n] = image.clone();
    view.templatePresent[k][n] = 1;
}

cv::Mat DetectorFixture::grab()
{
    return cv::Mat(view.imageHeight, view.imageWidth, CV_8UC1, view.grabBuffer().data());
}
cv::Mat DetectorFixture::registered()
{
    return cv::Mat(view.imageHeight, view.imageWidth, CV_8UC1, view.registeredBuffer.data());
}
cv::Mat DetectorFixture::detect()
{
    return cv::Mat(view.imageHeight, view.imageWidth, CV_8UC1, view.detectBuffer.data());
}
