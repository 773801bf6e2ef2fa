#include "cameradetector.h"

#include "cameraviewdata.h"
#include "cammersingleton.h"
#include "imagehelpers.h"
#include "inspectionhooks.h"
#include "inspectionlog.h"
#include "sysparam.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>

static_assert(kDetectorSlots == kDetectSlots && kDetectorSlots == kViewSlots, "slot counts agree");
static_assert(kDetectorRois == kRoisPerSlot && kDetectorRois == kViewRois, "region counts agree");

namespace {
// Least match of the positioning shape when the slot has no position region.
constexpr int kDefaultLeastMatch = 5;
// Features the registration template should have; fewer still register, with less certainty.
constexpr int kRegistrationMinFeatures = 300;
// Match confidence of the per-frame registration.
constexpr float kRegistrationConfidence = 0.4f;

bool validSlot(int k)
{
    return k >= 0 && k < kDetectorSlots;
}

int regionCount(const CammerSingleton *table, int k)
{
    return table ? std::clamp(table->roiCount[k], 0, kDetectorRois) : 0;
}

// The centre three quarters' worth of the image from a quarter of its width and height: the
// positioning and registration area of a slot that names none.
cv::Rect defaultArea(cv::Size image)
{
    return cv::Rect(image.width / 4, image.height / 4, 3 * image.width / 4, 3 * image.height / 4);
}
} // namespace

CameraDetector::CameraDetector(CammerSingleton *liveTable, CameraViewData *owner)
    : liveTable(liveTable), owner(owner)
{
    if (!gSysParam) {
        qCWarning(lcInspection) << "detector built before the parameters: no slot trained";
        return;
    }
    for (int k = 0; k < kDetectorSlots; ++k) {
        if (gSysParam->slotEnabled[k]) {
            buildRegistrationTemplate(k);
            createPositionTemplate(k);
            trainTemplates(k);
        }
    }
}

CameraDetector::~CameraDetector() = default;

cv::Size CameraDetector::imageSize() const
{
    if (!owner || owner->imageWidth < 1 || owner->imageHeight < 1)
        return cv::Size();
    return cv::Size(owner->imageWidth, owner->imageHeight);
}

bool CameraDetector::regionCut(const CammerSingleton *table, cv::Mat (*masks)[kDetectorRois], int k, int j,
                               cv::Size image, cv::Rect *rect, cv::Mat *mask)
{
    *rect = cv::Rect();
    *mask = cv::Mat();
    if (!table || !validSlot(k) || j < 0 || j >= kDetectorRois)
        return false;
    const int e = CammerSingleton::entry(k, j);
    const int shape = table->shape[e];
    const QRect q = shape == ShapeRect     ? table->rects[e].imageRect
                    : shape == ShapeCircle ? table->circles[e].imageRect
                                           : table->polygons[e].imageRect;
    const cv::Rect full(q.x(), q.y(), q.width(), q.height());
    if (full.width < 1 || full.height < 1)
        return false;

    cv::Mat m = masks ? masks[k][j] : cv::Mat();
    if (m.type() != CV_8UC1 || m.size() != full.size()) {
        // A mask left over from before the region was moved or resized: make it again from the shape.
        const cv::Mat rebuilt = shape == ShapeRect     ? table->rects[e].mask()
                                : shape == ShapeCircle ? table->circles[e].mask()
                                                       : table->polygons[e].mask();
        if (rebuilt.type() != CV_8UC1 || rebuilt.size() != full.size()) {
            qCWarning(lcInspection) << "region" << k << j << "has no mask fitting its rectangle";
            return false;
        }
        m = rebuilt;
        if (masks)
            masks[k][j] = rebuilt;
    }
    const cv::Rect inside = full & cv::Rect(cv::Point(0, 0), image);
    if (inside.width < 1 || inside.height < 1)
        return false;
    *rect = inside;
    *mask = m(inside - full.tl());
    return true;
}

cv::Mat CameraDetector::templateImage(int k, int n) const
{
    const cv::Size size = imageSize();
    const cv::Mat &t = owner->templates[k][n];
    if (size.empty() || t.empty() || t.size() != size) {
        qCWarning(lcInspection) << "template" << n << "of slot" << k << "does not fit the image; skipped";
        return cv::Mat();
    }
    if (gColorCamera) {
        if (t.type() != CV_8UC4 || !t.isContinuous() || owner->grayBuffer.size() < size_t(size.area())) {
            qCWarning(lcInspection) << "colour template" << n << "of slot" << k << "unusable; skipped";
            return cv::Mat();
        }
        int *pixels = reinterpret_cast<int *>(const_cast<uchar *>(t.data));
        if (gGrayChannel)
            RGBA2Gray(owner->grayBuffer.data(), pixels, size.width, size.height);
        else
            RGBA2Hue(owner->grayBuffer.data(), pixels, size.width, size.height);
        return cv::Mat(size, CV_8UC1, owner->grayBuffer.data());
    }
    if (t.type() != CV_8UC1) {
        qCWarning(lcInspection) << "template" << n << "of slot" << k << "is not a grey image; skipped";
        return cv::Mat();
    }
    return t;
}

cv::Mat CameraDetector::greyTemplateZero(int k) const
{
    const cv::Size size = imageSize();
    const cv::Mat &t = owner->templates[k][0];
    if (size.empty() || t.type() != CV_8UC1 || t.size() != size) {
        qCWarning(lcInspection) << "template 0 of slot" << k << "is missing or not a grey image of"
                                << size.width << "x" << size.height;
        return cv::Mat();
    }
    return t;
}

void CameraDetector::trainTemplates(int k)
{
    if (!validSlot(k) || !owner)
        return;
    for (int j = 0; j < kDetectorRois; ++j) {
        grayMatch[k][j].Clear();
        surf[k][j].Clear();
    }
    templateNorm[k] = 0;
    const cv::Size size = imageSize();
    if (size.empty()) {
        validMask[k].release();
        return;
    }

    // Inspected pixels: everything but the ignore bitmap and the ignore regions.
    const cv::Mat &ignore = owner->ignoreMasks[k];
    if (ignore.type() == CV_8UC1 && ignore.size() == size) {
        validMask[k] = ignore.clone();
    } else {
        qCWarning(lcInspection) << "ignore mask of slot" << k << "does not fit the image; nothing ignored";
        validMask[k] = cv::Mat::zeros(size, CV_8UC1);
    }
    const int count = regionCount(liveTable, k);
    for (int j = 0; j < count; ++j) {
        if (liveTable->function[CammerSingleton::entry(k, j)] != FuncIgnoreArea)
            continue;
        cv::Rect r;
        cv::Mat m;
        if (regionCut(liveTable, owner->roiMasks, k, j, size, &r, &m))
            m.copyTo(validMask[k](r));
    }
    cv::bitwise_not(validMask[k], validMask[k]);

    struct Trained
    {
        int j;
        int function;
        cv::Rect rect;
    };
    std::vector<Trained> regions;
    for (int j = 0; j < count; ++j) {
        const int f = liveTable->function[CammerSingleton::entry(k, j)];
        if (f != FuncDefect && f != FuncSimilarity)
            continue;
        cv::Rect r;
        cv::Mat m;
        if (!regionCut(liveTable, owner->roiMasks, k, j, size, &r, &m))
            continue; // an empty region gets no matcher
        cv::Mat mask;
        cv::bitwise_and(m, validMask[k](r), mask);
        if (f == FuncDefect)
            grayMatch[k][j].Create(r.width, r.height, mask, 0);
        else
            surf[k][j].Create(r.width, r.height, mask);
        regions.push_back({j, f, r});
    }

    // Templates in number order; each is converted once and handed to every region before the next
    // one overwrites the colour scratch buffer.
    const int limit = std::clamp(gTemplateLimit, 0, kMaxTemplates);
    int added = 0;
    for (int n = 0; n < limit; ++n) {
        if (!owner->templatePresent[k][n])
            continue;
        const cv::Mat image = templateImage(k, n);
        if (image.empty())
            continue;
        templateNorm[k] = cv::norm(image, cv::NORM_L2);
        for (const Trained &t : regions) {
            const cv::Mat cut = image(t.rect);
            if (t.function == FuncDefect)
                grayMatch[k][t.j].AddTemp(cut);
            else
                surf[k][t.j].AddTemp(cut, 1, 50, liveTable->param2[CammerSingleton::entry(k, t.j)]);
        }
        if (++added == owner->templateCount[k])
            break;
    }

    const int amplify = gSysParam ? gSysParam->diffAmplify : 0;
    for (const Trained &t : regions) {
        if (t.function == FuncDefect)
            grayMatch[k][t.j].Train(liveTable->param2[CammerSingleton::entry(k, t.j)], amplify, 100, 150);
        else
            surf[k][t.j].Train(0, 0, 0, 0);
    }
}

void CameraDetector::createPositionTemplate(int k)
{
    if (!validSlot(k) || !owner || !gSysParam || gSysParam->motionCorrect == -1 || gColorCamera)
        return;
    findShape[k].Clear();
    searchRect[k] = cv::Rect();
    const cv::Size size = imageSize();

    // The first position region gives mask and least match, every one the rectangle: the last wins.
    bool haveRegion = false;
    cv::Mat firstMask;
    int leastMatch = kDefaultLeastMatch;
    cv::Rect rect;
    const int count = regionCount(liveTable, k);
    for (int j = 0; j < count; ++j) {
        const int e = CammerSingleton::entry(k, j);
        if (liveTable->function[e] != FuncPosition)
            continue;
        cv::Rect r;
        cv::Mat m;
        regionCut(liveTable, owner->roiMasks, k, j, size, &r, &m);
        if (!haveRegion) {
            firstMask = m;
            leastMatch = liveTable->param1[e];
            haveRegion = true;
        }
        rect = r;
    }
    cv::Mat mask;
    if (!haveRegion || rect.width < 1 || rect.height < 1) {
        rect = defaultArea(size);
        leastMatch = kDefaultLeastMatch;
    } else if (firstMask.size() == rect.size()) {
        mask = firstMask;
    }
    if (mask.empty())
        mask = cv::Mat(rect.size(), CV_8UC1, cv::Scalar(255));
    positionCentreX[k] = rect.x + rect.width / 2;
    positionCentreY[k] = rect.y + rect.height / 2;

    const cv::Mat templ = greyTemplateZero(k);
    if (templ.empty() || rect.width < 1 || rect.height < 1)
        return; // no shape: frames pass on unpositioned
    const int rotation = gSysParam->rotateAngle >= 1 && gSysParam->rotateAngle <= 180
                             ? gSysParam->rotateAngle
                             : gSysParam->motionCorrect;
    findShape[k].CreateShape(templ(rect), 0.0, 0, rotation, positionCentreX[k], positionCentreY[k], false,
                             255, mask, leastMatch, 0);

    // The shape may have moved by up to maxOffset in every direction.
    const long long m = std::clamp(gSysParam->maxOffset, 0, 1 << 20);
    const long long x0 = std::max(0LL, rect.x - m);
    const long long y0 = std::max(0LL, rect.y - m);
    const long long right = std::min<long long>(size.width, rect.x - m + rect.width + 2 * m);
    const long long bottom = std::min<long long>(size.height, rect.y - m + rect.height + 2 * m);
    if (right - x0 >= 1 && bottom - y0 >= 1)
        searchRect[k] = cv::Rect(int(x0), int(y0), int(right - x0), int(bottom - y0));
}

void CameraDetector::buildRegistrationTemplate(int k)
{
    if (!validSlot(k) || !owner || !gSysParam || gSysParam->angleCorrect == 0 || gColorCamera)
        return;
    const cv::Mat templ = greyTemplateZero(k);
    if (templ.empty()) {
        registration[k] = RegistrationTemplate(); // no template: frames pass on unregistered
        return;
    }
    const cv::Size size = imageSize();
    cv::Mat mask = cv::Mat::zeros(size, CV_8UC1);
    bool lastUsable = false;
    const int count = regionCount(liveTable, k);
    for (int j = 0; j < count; ++j) {
        if (liveTable->function[CammerSingleton::entry(k, j)] != FuncAngleCorrection)
            continue;
        cv::Rect r;
        cv::Mat m;
        lastUsable = regionCut(liveTable, owner->roiMasks, k, j, size, &r, &m);
        if (lastUsable) {
            cv::Mat target = mask(r);
            cv::bitwise_or(target, m, target); // several regions add up
        }
    }
    if (!lastUsable)
        mask(defaultArea(size)).setTo(cv::Scalar(255));
    prepareRegistrationTemplate(registration[k], templ, mask, kRegistrationMinFeatures);
}

void CameraDetector::copyFrame(const std::vector<uchar> &from, std::vector<uchar> &to) const
{
    const size_t n = std::min({size_t(std::max(0, owner->frameBytes)), from.size(), to.size()});
    if (n > 0 && from.data() != to.data())
        std::memcpy(to.data(), from.data(), n);
}

int CameraDetector::timedRegister(int k)
{
    if (!owner)
        return 1;
    const int64 start = cv::getTickCount();
    const cv::Size size = imageSize();
    const size_t pixels = size_t(size.area());
    bool registered = false;
    if (validSlot(k) && gSysParam && gSysParam->angleCorrect != 0 && !size.empty() &&
        owner->grabBuffer().size() >= pixels && owner->registeredBuffer.size() >= pixels) {
        const cv::Mat grab(size, CV_8UC1, owner->grabBuffer().data());
        const cv::Mat target(size, CV_8UC1, owner->registeredBuffer.data());
        cv::Mat out = target;
        registered = registerImage(registration[k], grab, out, kRegistrationConfidence);
        if (registered && out.data != target.data)
            out.copyTo(target);
    }
    if (!registered)
        copyFrame(owner->grabBuffer(), owner->registeredBuffer);
    qCDebug(lcInspection) << "registration of slot" << k << (registered ? "done" : "skipped") << "in"
                          << (cv::getTickCount() - start) * 1000.0 / cv::getTickFrequency() << "ms";
    return 1;
}

void CameraDetector::findPosition(int k)
{
    if (!owner)
        return;
    const cv::Size size = imageSize();
    const size_t pixels = size_t(size.area());
    if (!validSlot(k) || !gSysParam || gSysParam->motionCorrect == -1 || !findShape[k].IsValid() ||
        gColorCamera || size.empty() || owner->registeredBuffer.size() < pixels ||
        owner->detectBuffer.size() < pixels) {
        copyFrame(owner->registeredBuffer, owner->detectBuffer);
        return;
    }
    const cv::Rect win = searchRect[k];
    if (win.width < 1 || win.height < 1 || (win & cv::Rect(cv::Point(0, 0), size)) != win) {
        copyFrame(owner->registeredBuffer, owner->detectBuffer);
        return;
    }
    const cv::Mat registered(size, CV_8UC1, owner->registeredBuffer.data());
    const cv::Mat detect(size, CV_8UC1, owner->detectBuffer.data());
    cv::Mat window = registered(win).clone();
    int x = 0, y = 0;
    double unused = 0, angle = 0;
    if (!findShape[k].Find(window, 0, &x, &y, &unused, &angle)) {
        copyFrame(owner->registeredBuffer, owner->detectBuffer);
        return;
    }
    const int dx = x - win.x;
    const int dy = y - win.y;
    cv::Mat out = detect;
    if (gSysParam->rotateAngle >= 1 && gSysParam->rotateAngle <= 180)
        TransformImage(registered, out, cv::Point(dx, dy), cv::Point(positionCentreX[k], positionCentreY[k]),
                       angle);
    else
        MoveImage(registered, out, dx, dy);
    if (out.data != detect.data) {
        if (out.size() == size && out.type() == CV_8UC1)
            out.copyTo(detect);
        else
            copyFrame(owner->registeredBuffer, owner->detectBuffer);
    }
}

void CameraDetector::findPosition()
{
    const std::function<int()> &currentSlot = inspectionHooks().currentSlot;
    if (!currentSlot) {
        qCWarning(lcInspection) << "no current slot known: frame passed on unpositioned";
        if (owner)
            copyFrame(owner->registeredBuffer, owner->detectBuffer);
        return;
    }
    findPosition(currentSlot());
}
