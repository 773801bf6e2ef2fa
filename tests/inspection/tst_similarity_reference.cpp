// The similarity matcher against the straightforward method it replaced, kept here as the reference:
// every template placed at every shift and correlated by its own pass over the region. On random
// regions, masks, templates and frames the two must agree on the score (within half a point), on the
// winning template and shift, and on the marked pixels.

#include "maskedncc.h"
#include "surfmatch.h"
#include "syntheticimages.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

namespace {

struct Reference
{
    float score = 0;
    int templ = -1;
    cv::Point shift;
    cv::Mat out;
};

// The former SURF::Create, Train and Match in one, as they were.
Reference referenceMatch(const std::vector<cv::Mat> &templates, const cv::Mat &mask, const cv::Mat &image)
{
    Reference r;
    const int w = image.cols, h = image.rows;
    const int shift = std::min(SURF::kMaxShift, (std::min(w, h) - 1) / 4);
    const cv::Rect inner(shift, shift, w - 2 * shift, h - 2 * shift);
    std::vector<NccTemplate> prepared;
    for (const cv::Mat &t : templates)
        prepared.push_back(makeNccTemplate(t(inner), mask(inner)));
    const NccImage img = makeNccImage(image);
    double best = -2;
    cv::Point bestTopLeft;
    for (size_t i = 0; i < prepared.size(); ++i) {
        const NccTemplate &t = prepared[i];
        if (t.count < 1)
            continue;
        for (int dy = -shift; dy <= shift; ++dy) {
            for (int dx = -shift; dx <= shift; ++dx) {
                const cv::Point tl(shift + dx, shift + dy);
                const double s = t.isUsable() ? nccAt(img, t, tl)
                                              : (patchVariance(img, t, tl) < kFlatVariance ? 1.0 : 0.0);
                if (s > best) {
                    best = s;
                    r.templ = int(i);
                    r.shift = cv::Point(dx, dy);
                    bestTopLeft = tl;
                }
            }
        }
    }
    r.out = cv::Mat::zeros(h, w, CV_8UC1);
    if (r.templ < 0)
        return r;
    const NccTemplate &t = prepared[size_t(r.templ)];
    const cv::Rect box(bestTopLeft, t.size());
    const double meanI = img.value(box).dot(t.weight) / t.count;
    const double sdI = std::sqrt(std::max(0.0, patchVariance(img, t, bestTopLeft)));
    cv::Mat zI = cv::Mat::zeros(box.size(), CV_32F), zT = cv::Mat::zeros(box.size(), CV_32F);
    if (sdI * sdI >= kFlatVariance)
        zI = (img.value(box) - meanI) / sdI;
    if (t.norm2 > 0)
        zT = t.zeroMean / std::sqrt(t.norm2 / t.count);
    cv::Mat target = r.out(box);
    target.setTo(cv::Scalar(255), (cv::abs(zI - zT) > SURF::kDiffSigma) & (t.weight > 0));
    r.score = float(std::clamp(best, 0.0, 1.0) * 100.0);
    return r;
}

cv::Mat randomMask(cv::RNG &rng, int w, int h)
{
    cv::Mat m = cv::Mat::zeros(h, w, CV_8UC1);
    const cv::Point c(w / 2, h / 2);
    const int radius = std::max(1, std::min(w, h) / 2 - 1);
    switch (rng.uniform(0, 4)) {
    case 0:
        m.setTo(cv::Scalar(255));
        break;
    case 1:
        cv::circle(m, c, radius, cv::Scalar(255), cv::FILLED);
        break;
    case 2: // a ring: rows with a gap in the middle
        cv::circle(m, c, radius, cv::Scalar(255), cv::FILLED);
        cv::circle(m, c, radius / 2, cv::Scalar(0), cv::FILLED);
        break;
    default: {
        std::vector<cv::Point> poly;
        for (int i = 0; i < 6; ++i)
            poly.emplace_back(rng.uniform(0, w), rng.uniform(0, h));
        cv::fillPoly(m, std::vector<std::vector<cv::Point>>{poly}, cv::Scalar(255));
        break;
    }
    }
    return m;
}

} // namespace

class TstSimilarityReference : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithTheReferenceOnRandomRegions()
    {
        cv::RNG rng(20261207);
        for (int c = 0; c < 50; ++c) {
            const int w = rng.uniform(4, 150), h = rng.uniform(4, 130);
            const cv::Mat scene = texture(w + 8, h + 8, unsigned(1000 + c), rng.uniform(1.0, 4.0));
            const cv::Mat mask = randomMask(rng, w, h);
            std::vector<cv::Mat> templates;
            const int count = rng.uniform(1, 6);
            for (int n = 0; n < count; ++n) {
                cv::Mat t = scene(cv::Rect(4 + rng.uniform(-2, 3), 4 + rng.uniform(-2, 3), w, h)).clone();
                if (rng.uniform(0, 8) == 0)
                    t.setTo(cv::Scalar(rng.uniform(0, 256))); // a plain template now and then
                cv::Mat grain(h, w, CV_8UC1);
                rng.fill(grain, cv::RNG::UNIFORM, 0, 6);
                templates.push_back(t + grain);
            }
            cv::Mat frame;
            switch (rng.uniform(0, 5)) {
            case 0: // another surface
                frame = texture(w, h, unsigned(5000 + c));
                break;
            case 1: // a plain frame
                frame = cv::Mat(h, w, CV_8UC1, cv::Scalar(rng.uniform(0, 256)));
                break;
            default: // the part a few pixels off, under another lamp
                scene(cv::Rect(4 + rng.uniform(-3, 4), 4 + rng.uniform(-3, 4), w, h))
                    .convertTo(frame, CV_8U, rng.uniform(0.6, 1.2), rng.uniform(-20, 30));
                break;
            }

            SURF s;
            s.Create(w, h, mask);
            for (const cv::Mat &t : templates)
                s.AddTemp(t, 1, 50, 60);
            s.Train(0, 0, 0, 0);
            cv::Mat out = cv::Mat::zeros(h, w, CV_8UC1);
            cv::Mat copy = frame.clone();
            const float score = s.Match(copy, out);
            const Reference ref = referenceMatch(templates, mask, frame);

            const QByteArray what = QStringLiteral("case %1 (%2 x %3): score %4 vs %5, template %6 vs %7")
                                        .arg(c).arg(w).arg(h).arg(double(score)).arg(double(ref.score))
                                        .arg(s.bestTemplate()).arg(ref.templ).toUtf8();
            QVERIFY2(std::abs(score - ref.score) <= 0.5f, what.constData());
            if (ref.templ < 0)
                continue;
            QVERIFY2(s.bestTemplate() == ref.templ, what.constData());
            QVERIFY2(s.bestShift() == ref.shift, what.constData());
            // A pixel right at the marking threshold may fall either way by rounding, no more.
            cv::Mat differ = out != ref.out;
            QVERIFY2(cv::countNonZero(differ) <= std::max(2, w * h / 500), what.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TstSimilarityReference)
#include "tst_similarity_reference.moc"
