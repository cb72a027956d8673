#include "cellindex.h"

#include <algorithm>
#include <cmath>

void LabBox::Add(const Color3& p)
{
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], p.c[a]);
        hi[a] = std::max(hi[a], p.c[a]);
    }
}

void LabBox::Add(const LabBox& box)
{
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], box.lo[a]);
        hi[a] = std::max(hi[a], box.hi[a]);
    }
}

bool LabBox::Contains(const Color3& p, double margin) const
{
    for (int a = 0; a < 3; ++a)
        if (!(p.c[a] >= lo[a] - margin && p.c[a] <= hi[a] + margin))
            return false;
    return true;
}

double LabBox::Distance(const Color3& p) const
{
    if (Empty())
        return k_far;
    double sum = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double d = std::max({lo[a] - p.c[a], p.c[a] - hi[a], 0.0});
        sum += d * d;
    }
    return std::sqrt(sum);
}

namespace {

// Bins per axis and bins in all, at most (8 MiB for the bins' starts); entries in all, at most
// the larger of k_minEntryCap (32 MiB) and k_entriesPerBlock a block. Coarser bins are used
// when finer ones would take more, as when a few blocks with huge boxes cover every bin.
constexpr int k_maxBinsPerAxis = 256;
constexpr long long k_maxBins = 1LL << 20;
constexpr long long k_minEntryCap = 1LL << 20;
constexpr long long k_entriesPerBlock = 32;

float Below(double v)
{
    float f = static_cast<float>(v);
    if (static_cast<double>(f) > v)
        f = std::nextafter(f, -std::numeric_limits<float>::infinity());
    return f;
}

float Above(double v)
{
    float f = static_cast<float>(v);
    if (static_cast<double>(f) < v)
        f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

}  // namespace

long long CellBins::EntryCap(std::size_t blocks)
{
    return std::max(k_minEntryCap, k_entriesPerBlock * static_cast<long long>(blocks));
}

void CellBins::Build(int m, const std::vector<CellBlock>& blocks, double margin)
{
    *this = CellBins();
    m_m = m;
    double meanExtent[3] = {0.0, 0.0, 0.0};
    for (const CellBlock& b : blocks) {
        if (b.box.Empty())
            continue;
        CellBlock grown = b;
        for (int a = 0; a < 3; ++a) {
            grown.box.lo[a] -= margin;
            grown.box.hi[a] += margin;
            meanExtent[a] += grown.box.hi[a] - grown.box.lo[a];
        }
        m_bounds.Add(grown.box);
        m_blocks.push_back(grown);
    }
    if (m_blocks.empty())
        return;
    // Bins about half as large as the mean block box, where the blocks spread along the axis.
    for (int a = 0; a < 3; ++a) {
        const double extent = m_bounds.hi[a] - m_bounds.lo[a];
        const double bin = 1.0 * meanExtent[a] / static_cast<double>(m_blocks.size());
        m_count[a] = (extent > 0.0 && bin > 0.0) ? static_cast<int>(std::clamp(std::ceil(extent / bin), 1.0,
                                                                                 double(k_maxBinsPerAxis)))
                                                 : 1;
    }
    auto binRange = [&](const LabBox& box, int a, int* lo, int* hi) {
        *lo = std::clamp(static_cast<int>((box.lo[a] - m_bounds.lo[a]) * m_scale[a]), 0, m_count[a] - 1);
        *hi = std::clamp(static_cast<int>((box.hi[a] - m_bounds.lo[a]) * m_scale[a]), 0, m_count[a] - 1);
    };
    for (;;) {
        for (int a = 0; a < 3; ++a) {
            const double extent = m_bounds.hi[a] - m_bounds.lo[a];
            m_scale[a] = extent > 0.0 ? m_count[a] / extent : 0.0;
        }
        const long long bins = 1LL * m_count[0] * m_count[1] * m_count[2];
        long long entries = 0;
        for (const CellBlock& b : m_blocks) {
            long long covered = 1;
            for (int a = 0; a < 3; ++a) {
                int lo, hi;
                binRange(b.box, a, &lo, &hi);
                covered *= hi - lo + 1;
            }
            entries += covered;
        }
        if (bins <= k_maxBins && entries <= EntryCap(m_blocks.size()))
            break;
        // Halve the bins along the axis that has most.
        int widest = 0;
        for (int a = 1; a < 3; ++a)
            if (m_count[a] > m_count[widest])
                widest = a;
        m_count[widest] = (m_count[widest] + 1) / 2;
    }
    // Count each bin's entries, turn the counts into starts, then place the blocks in order.
    const std::size_t bins = static_cast<std::size_t>(m_count[0]) * m_count[1] * m_count[2];
    m_first.assign(bins + 1, 0);
    auto forEachBin = [&](const LabBox& box, auto action) {
        int lo[3], hi[3];
        for (int a = 0; a < 3; ++a)
            binRange(box, a, &lo[a], &hi[a]);
        for (int i = lo[0]; i <= hi[0]; ++i)
            for (int j = lo[1]; j <= hi[1]; ++j)
                for (int k = lo[2]; k <= hi[2]; ++k)
                    action((static_cast<std::size_t>(i) * m_count[1] + j) * m_count[2] + k);
    };
    for (const CellBlock& b : m_blocks)
        forEachBin(b.box, [&](std::size_t bin) { ++m_first[bin + 1]; });
    for (std::size_t bin = 0; bin < bins; ++bin)
        m_first[bin + 1] += m_first[bin];
    m_entries.resize(static_cast<std::size_t>(m_first[bins]));
    std::vector<std::int64_t> next(m_first.begin(), m_first.end() - 1);
    for (std::size_t b = 0; b < m_blocks.size(); ++b)
        forEachBin(m_blocks[b].box, [&](std::size_t bin) {
            Entry& e = m_entries[static_cast<std::size_t>(next[bin]++)];
            for (int a = 0; a < 3; ++a) {
                e.lo[a] = Below(m_blocks[b].box.lo[a]);
                e.hi[a] = Above(m_blocks[b].box.hi[a]);
            }
            e.block = static_cast<int>(b);
            const CellBlock& block = m_blocks[b];
            const bool single = block.hi[0] - block.lo[0] == 1 && block.hi[1] - block.lo[1] == 1 &&
                                block.hi[2] - block.lo[2] == 1;
            e.cell = single ? (block.lo[0] * m_m + block.lo[1]) * m_m + block.lo[2] : -1;
        });
}

long long CellBins::BinOf(const Color3& p) const
{
    if (m_blocks.empty() || !m_bounds.Contains(p, 0.0))
        return -1;
    long long bin = 0;
    for (int a = 0; a < 3; ++a)
        bin = bin * m_count[a] +
              std::clamp(static_cast<int>((p.c[a] - m_bounds.lo[a]) * m_scale[a]), 0, m_count[a] - 1);
    return bin;
}

double CellTree::Node::Distance(const Color3& p) const
{
    double sum = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double d = std::max({static_cast<double>(lo[a]) - p.c[a], p.c[a] - static_cast<double>(hi[a]), 0.0});
        sum += d * d;
    }
    return std::sqrt(sum);
}

void CellTree::Build(int m, std::vector<CellBlock> blocks)
{
    m_m = m;
    m_blocks.clear();
    for (CellBlock& b : blocks)
        if (!b.box.Empty())
            m_blocks.push_back(b);
    m_nodes.clear();
    m_nodes.reserve(2 * m_blocks.size());
    std::vector<int> order(m_blocks.size());
    for (std::size_t b = 0; b < order.size(); ++b)
        order[b] = static_cast<int>(b);
    if (!order.empty())
        BuildNode(order.begin(), order.end());
}

void CellTree::BuildNode(std::vector<int>::iterator first, std::vector<int>::iterator last)
{
    const std::size_t self = m_nodes.size();
    m_nodes.emplace_back();
    LabBox box, centres;
    for (auto b = first; b != last; ++b) {
        const LabBox& item = m_blocks[static_cast<std::size_t>(*b)].box;
        box.Add(item);
        centres.Add(Color3{{(item.lo[0] + item.hi[0]) * 0.5, (item.lo[1] + item.hi[1]) * 0.5,
                            (item.lo[2] + item.hi[2]) * 0.5}});
    }
    for (int a = 0; a < 3; ++a) {
        m_nodes[self].lo[a] = Below(box.lo[a]);
        m_nodes[self].hi[a] = Above(box.hi[a]);
    }
    if (last - first == 1) {
        m_nodes[self].block = *first;
    } else {
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if (centres.hi[a] - centres.lo[a] > centres.hi[axis] - centres.lo[axis])
                axis = a;
        auto centre = [&](int b) {
            const LabBox& item = m_blocks[static_cast<std::size_t>(b)].box;
            return item.lo[axis] + item.hi[axis];
        };
        // Ties go by block number, so the tree does not depend on the sort's implementation.
        const auto middle = first + (last - first) / 2;
        std::nth_element(first, middle, last, [&](int a, int b) {
            const double ca = centre(a), cb = centre(b);
            return ca < cb || (ca == cb && a < b);
        });
        BuildNode(first, middle);
        BuildNode(middle, last);
    }
    m_nodes[self].after = static_cast<int>(m_nodes.size());
}
