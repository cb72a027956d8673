// Two indexes over blocks of grid cells in Lab, for finding the cells that may hold a wanted
// Lab value, or the cells nearest to it, without looking at every cell.
//
// The cells form an M x M x M block (M = N - 1 for a grid of N values per axis); cell
// (i, j, k) has the number (i * M + j) * M + k. Both indexes are built over blocks of cells,
// each with a Lab box that bounds whatever the caller wants found in them; blocks with an
// empty box are left out.
//
// CellBins answers "which blocks' boxes hold this value": the box of all blocks is cut into a
// regular lattice of bins about half as large as a block's box, and each bin lists, in the
// order of the blocks, the blocks whose box meets it, each with its box in single precision
// rounded outwards. A query reads one bin, from one stretch of memory.
//
// CellTree answers "which blocks are nearest to this value": a bounding-volume hierarchy.
// Every node's box bounds its blocks' boxes. A node with one block is a leaf; an inner node
// sorts its blocks by the centre of their boxes along the longest side of the box of those
// centres and hands each half to one child, so that nodes are compact in Lab. Nodes are
// stored in preorder, each with the position of the first node after its subtree, so a walk
// needs no parent links; their boxes are kept in single precision, rounded outwards, so that
// a node takes 32 bytes.
#pragma once

#include "color3.h"

#include <cstdint>
#include <limits>
#include <vector>

// An axis-aligned box in Lab; the default box is empty and contains nothing.
struct LabBox {
    double lo[3] = {k_far, k_far, k_far};
    double hi[3] = {-k_far, -k_far, -k_far};

    void Add(const Color3& p);
    void Add(const LabBox& box);
    bool Empty() const { return !(lo[0] <= hi[0]); }
    // Whether `p` lies in the box grown by `margin` on every side.
    bool Contains(const Color3& p, double margin) const;
    // Distance from `p` to the nearest point of the box: 0 inside, infinite for an empty box.
    double Distance(const Color3& p) const;

    static constexpr double k_far = std::numeric_limits<double>::infinity();
};

// A block of cells, lo <= index < hi on each axis, and the box of what it holds.
struct CellBlock {
    int lo[3] = {0, 0, 0};
    int hi[3] = {0, 0, 0};
    LabBox box;
};

class CellBins {
public:
    // Builds the bins over the blocks of an M x M x M grid of cells, each block's box grown by
    // `margin` on every side.
    void Build(int m, const std::vector<CellBlock>& blocks, double margin);

    // Calls visit(cell) for every cell of every block whose grown box holds `p`: blocks in
    // their order, the cells of one block in grid order.
    template <typename Visit>
    void ForEachCellAt(const Color3& p, Visit visit) const;

    // Entries in all bins; at most EntryCap(blocks).
    std::size_t EntryCount() const { return m_entries.size(); }
    static long long EntryCap(std::size_t blocks);

private:
    struct Entry {
        float lo[3], hi[3];  // the block's grown box, rounded outwards
        int block;
        int cell;            // the block's cell when it has only one, else -1
    };

    // The bin holding `p`, or -1 outside the bins.
    long long BinOf(const Color3& p) const;

    int m_m = 0;
    std::vector<CellBlock> m_blocks;  // boxes grown by the margin
    LabBox m_bounds;                  // the box of all blocks
    int m_count[3] = {0, 0, 0};       // bins along L, a and b
    double m_scale[3] = {0.0, 0.0, 0.0};  // bins per unit along each
    std::vector<std::int64_t> m_first;  // per bin, its first entry; then the number of entries
    std::vector<Entry> m_entries;       // bin after bin
};


class CellTree {
public:
    // Builds the tree over the blocks of an M x M x M grid of cells; blocks with an empty box
    // are left out.
    void Build(int m, std::vector<CellBlock> blocks);

    // Calls visit(cell) for the cells of the blocks whose box is nearer to `p` than the
    // distance the last call of visit returned (infinite before the first call), nearer
    // subtrees first. visit returns the distance beyond which nothing is wanted any more.
    template <typename Visit>
    void ForEachCellNear(const Color3& p, Visit visit) const;

private:
    struct Node {
        float lo[3], hi[3];  // the box, rounded outwards
        int block = -1;      // a leaf's block, -1 for an inner node
        int after = 0;       // position of the first node after this one's subtree

        // A lower bound of the distance from `p` to the box.
        double Distance(const Color3& p) const;
    };

    void BuildNode(std::vector<int>::iterator first, std::vector<int>::iterator last);
    template <typename Visit>
    double VisitBlock(int block, double limit, Visit& visit) const;

    int m_m = 0;
    std::vector<CellBlock> m_blocks;
    std::vector<Node> m_nodes;
};

template <typename Visit>
double CellTree::VisitBlock(int block, double limit, Visit& visit) const
{
    const CellBlock& b = m_blocks[static_cast<std::size_t>(block)];
    for (int i = b.lo[0]; i < b.hi[0]; ++i)
        for (int j = b.lo[1]; j < b.hi[1]; ++j)
            for (int k = b.lo[2]; k < b.hi[2]; ++k)
                limit = visit((i * m_m + j) * m_m + k);
    return limit;
}

template <typename Visit>
void CellBins::ForEachCellAt(const Color3& p, Visit visit) const
{
    const long long bin = BinOf(p);
    if (bin < 0)
        return;
    // Rounding to nearest keeps order, so a p inside a box rounds to a float inside the box's
    // outward-rounded bounds.
    const float q[3] = {static_cast<float>(p.c[0]), static_cast<float>(p.c[1]), static_cast<float>(p.c[2])};
    const Entry* end = m_entries.data() + m_first[static_cast<std::size_t>(bin) + 1];
    for (const Entry* e = m_entries.data() + m_first[static_cast<std::size_t>(bin)]; e != end; ++e) {
        // One branch per entry: most entries fail, in no predictable pattern.
        const bool inside = (e->lo[0] <= q[0]) & (q[0] <= e->hi[0]) & (e->lo[1] <= q[1]) & (q[1] <= e->hi[1]) &
                            (e->lo[2] <= q[2]) & (q[2] <= e->hi[2]);
        if (!inside)
            continue;
        if (e->cell >= 0) {
            visit(e->cell);
            continue;
        }
        const CellBlock& b = m_blocks[static_cast<std::size_t>(e->block)];
        for (int i = b.lo[0]; i < b.hi[0]; ++i)
            for (int j = b.lo[1]; j < b.hi[1]; ++j)
                for (int k = b.lo[2]; k < b.hi[2]; ++k)
                    visit((i * m_m + j) * m_m + k);
    }
}

template <typename Visit>
void CellTree::ForEachCellNear(const Color3& p, Visit visit) const
{
    if (m_nodes.empty())
        return;
    // A node's children are at n + 1 and at the first node after the first child's subtree.
    // Each level of the walk leaves at most one node waiting, and a tree over at most 2^24
    // blocks split in halves is at most 25 levels deep.
    struct Pending { int node; double distance; };
    Pending stack[64];
    int top = 0;
    double limit = LabBox::k_far;
    stack[top++] = Pending{0, m_nodes[0].Distance(p)};
    while (top > 0) {
        const Pending pending = stack[--top];
        if (!(pending.distance < limit))
            continue;
        const Node& node = m_nodes[static_cast<std::size_t>(pending.node)];
        if (node.block >= 0) {
            limit = VisitBlock(node.block, limit, visit);
            continue;
        }
        const int first = pending.node + 1;
        const int second = m_nodes[static_cast<std::size_t>(first)].after;
        const double d1 = m_nodes[static_cast<std::size_t>(first)].Distance(p);
        const double d2 = m_nodes[static_cast<std::size_t>(second)].Distance(p);
        // The nearer child goes on top, so it is searched first.
        if (d1 <= d2) {
            stack[top++] = Pending{second, d2};
            stack[top++] = Pending{first, d1};
        } else {
            stack[top++] = Pending{first, d1};
            stack[top++] = Pending{second, d2};
        }
    }
}
