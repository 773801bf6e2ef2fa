#pragma once
// The feature matching step of registration: the two-way best-of-two-nearest search of OpenCV's
// cv::detail::BestOf2NearestMatcher (the same nearest-neighbour search, 4 randomised kd-trees and 32
// leaf checks per query as its FLANN index, the same ratio test and the same merge of both directions),
// without the matcher's own homography estimate, which registration never used, and with the
// template's trees built once per template instead of once per frame.
//
// The trees are randomised from a fixed seed, so a pair of descriptor sets always gives the same
// matches, on any thread.
//
// Pure data and functions: a FeatureForest is read-only once built and may be searched from any
// thread; each search keeps its own scratch.

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

// Randomised kd-trees over the rows of a byte descriptor matrix (kept by reference count). SIFT
// descriptors are whole numbers 0..255 stored as floats: as bytes they take a quarter of the memory the
// search walks through, and their distances are exact, the same as over the floats.
class FeatureForest
{
public:
    static constexpr int kTrees = 4;
    static constexpr int kChecks = 32;

    // Float descriptors as bytes; false when one is not a whole number in 0..255.
    static bool toBytes(const cv::Mat &descriptors, cv::Mat &bytes);

    FeatureForest() = default;
    // Builds the trees over the rows of `bytes` (CV_8UC1); an empty or unusable matrix gives an empty
    // forest.
    explicit FeatureForest(const cv::Mat &bytes);

    int size() const { return m_data.rows; }
    const cv::Mat &data() const { return m_data; }

    // Working memory of one searcher, reused from query to query.
    struct Scratch
    {
        std::vector<uint64_t> branches; // min-heap of (bound, node), see branchKey
        std::vector<unsigned> checked;                // row -> query stamp
        unsigned stamp = 0;
    };

    // The two nearest rows to `query` (squared L2 distances, nearest first) by a best-bin-first
    // search of at most kChecks rows. False when the forest holds fewer than two rows.
    bool twoNearest(const uchar *query, int index[2], float distance[2], Scratch &scratch) const;

private:
    struct Node
    {
        int child1 = -1; // -1: a leaf holding row `feature`
        int child2 = -1;
        int feature = 0; // split dimension, or the leaf's row
        float value = 0; // split value
    };
    void descend(int node, float bound, const uchar *query, int *checks, int index[2], float distance[2],
                 Scratch &scratch) const;
    int divide(int *rows, int count, cv::RNG &rng);
    void split(const int *rows, int count, int *feature, float *value, cv::RNG &rng);

    cv::Mat m_data;
    std::vector<Node> m_nodes;
    std::vector<uint16_t> m_sums;   // working sums while the trees are built
    std::vector<uint32_t> m_squares;
    std::vector<const uchar *> m_sampleRows;
    int m_roots[kTrees] = {};
};

// Matches from `live` (query, features[0]) to `templ` (train, features[1]) as BestOf2NearestMatcher
// gives them for that pair: live-to-template matches whose nearest template descriptor is closer than
// (1 - confidence) times the second nearest, then template-to-live matches passing the same test that
// are not already listed, turned to live-to-template. `templForest` may be given prebuilt for
// `templ` (null or a forest of another size: built here). False, with no matches, when the
// descriptors are not float rows of whole numbers 0..255 (then the caller uses OpenCV's matcher).
// The searches of each direction run in ranges through shareWork (sharedwork.h): on a worker of a slot
// judgement idle workers may take some; the pairs come in the order above either way.
bool bestOfTwoNearest(const cv::Mat &live, const cv::Mat &templ, const FeatureForest *templForest, float confidence,
                      std::vector<cv::DMatch> *matches);
