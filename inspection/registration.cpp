#include "registration.h"

#include "inspectionlog.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {
// Registration works on copies of at most this many pixels.
constexpr double kWorkPixels = 500000.0;

// Sets the calling thread's OpenCV generator to one fixed state and gives the old one back after.
class RandomSeed
{
public:
    RandomSeed() : m_saved(cv::theRNG()) { cv::theRNG() = cv::RNG(0x5eed); }
    ~RandomSeed() { cv::theRNG() = m_saved; }
    RandomSeed(const RandomSeed &) = delete;
    RandomSeed &operator=(const RandomSeed &) = delete;

private:
    cv::RNG m_saved;
};
} // namespace

float registrationScale(int rows, int cols)
{
    const double pixels = double(rows) * double(cols);
    if (pixels <= 0)
        return 1.0f;
    return float(std::min(1.0, std::sqrt(kWorkPixels / pixels)));
}

bool prepareRegistrationTemplate(RegistrationTemplate &r, const cv::Mat &templ, const cv::Mat &mask,
                                 int minFeatures)
{
    r.features.resize(2);
    r.features[1] = cv::detail::ImageFeatures();
    r.templateForest.reset();
    if (templ.rows * templ.cols == 0)
        return false;
    r.scale = registrationScale(templ.rows, templ.cols);
    if (!mask.empty()) {
        if (mask.type() != CV_8UC1 || mask.size() != templ.size())
            return false;
        cv::resize(mask, r.mask, cv::Size(), r.scale, r.scale, cv::INTER_LINEAR_EXACT);
    } else {
        r.mask = mask;
    }
    computeFeatures(r, templ, r.features[1], 1);
    // The template's side of every frame's matching, done once here instead of once per frame.
    r.templateForest.reset();
    cv::Mat bytes;
    if (FeatureForest::toBytes(r.features[1].descriptors.getMat(cv::ACCESS_READ), bytes))
        r.templateForest = std::make_shared<const FeatureForest>(bytes);
    return int(r.features[1].keypoints.size()) >= minFeatures;
}

void computeFeatures(RegistrationTemplate &r, const cv::Mat &img, cv::detail::ImageFeatures &out, int index)
{
    if (img.empty())
        return;
    try {
        const cv::Ptr<cv::SIFT> sift = cv::SIFT::create(0, 3, 0.04, 10, 1.6);
        cv::Mat grey = img;
        if (img.channels() == 3)
            cv::cvtColor(img, grey, cv::COLOR_BGR2GRAY);
        else if (img.channels() == 4)
            cv::cvtColor(img, grey, cv::COLOR_BGRA2GRAY);
        cv::Mat small;
        cv::resize(grey, small, cv::Size(), r.scale, r.scale, cv::INTER_LINEAR_EXACT);
        const bool useMask = !r.mask.empty() && r.mask.type() == CV_8UC1 && r.mask.size() == small.size();
        if (useMask)
            cv::detail::computeImageFeatures(sift, small, out, r.mask);
        else
            cv::detail::computeImageFeatures(sift, small, out);
    } catch (const cv::Exception &e) {
        qCWarning(lcInspection) << "registration: features failed:" << e.what();
        out = cv::detail::ImageFeatures();
    }
    out.img_idx = index;
}

bool registerImage(RegistrationTemplate &r, const cv::Mat &live, cv::Mat &output, float matchConfidence)
{
    if (live.empty())
        return false;
    r.features.resize(2);
    const cv::detail::ImageFeatures &templF = r.features[1];
    // Too few features on either side cannot give 4 pairs; the matcher is not asked. A slot without a
    // usable template (a colour camera, a missing template 0) does not pay for the frame's features.
    if (templF.keypoints.size() < 4 || templF.descriptors.empty())
        return false;
    computeFeatures(r, live, r.features[0], 0);
    const cv::detail::ImageFeatures &liveF = r.features[0];
    if (liveF.keypoints.size() < 4 || liveF.descriptors.empty())
        return false;

    std::vector<cv::Point2f> livePoints, templPoints;
    try {
        // The matcher's two-way best-of-two-nearest matches of the pair (live, template), found with
        // the template's prebuilt trees; descriptors it cannot take go to OpenCV's matcher itself.
        std::vector<cv::DMatch> matches;
        if (!bestOfTwoNearest(liveF.descriptors.getMat(cv::ACCESS_READ), templF.descriptors.getMat(cv::ACCESS_READ),
                              r.templateForest.get(), matchConfidence, &matches)) {
            std::vector<cv::detail::MatchesInfo> pairwise;
            cv::detail::BestOf2NearestMatcher matcher(false, matchConfidence, 6, 6);
            {
                // Its search trees are randomised from the thread's generator: seeded the same for
                // every frame, one frame registers the same on any thread, however often it is judged.
                const RandomSeed seed;
                matcher(r.features, pairwise);
            }
            matcher.collectGarbage();
            for (size_t i = 0; i < std::min<size_t>(2, pairwise.size()); ++i)
                matches.insert(matches.end(), pairwise[i].matches.begin(), pairwise[i].matches.end());
        }
        for (const cv::DMatch &m : matches) {
            if (m.queryIdx < 0 || m.trainIdx < 0 || size_t(m.queryIdx) >= liveF.keypoints.size() ||
                size_t(m.trainIdx) >= templF.keypoints.size())
                continue;
            livePoints.push_back(liveF.keypoints[size_t(m.queryIdx)].pt / r.scale);
            templPoints.push_back(templF.keypoints[size_t(m.trainIdx)].pt / r.scale);
        }
        if (livePoints.size() < 4)
            return false;
        const cv::Mat h =
            cv::findHomography(livePoints, templPoints, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995);
        if (h.empty())
            return false;
        cv::warpPerspective(live, output, h, live.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                            cv::Scalar());
    } catch (const cv::Exception &e) {
        qCWarning(lcInspection) << "registration failed:" << e.what();
        return false;
    }
    return true;
}
