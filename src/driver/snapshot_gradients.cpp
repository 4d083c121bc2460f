#include "driver/snapshot_gradients.hpp"

#include "state/error.hpp"
#include "state/snapshot.hpp"

#include <chrono>
#include <cmath>
#include <memory>
#include <unordered_map>

namespace korvex {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 16;
// Atoms averaged at once (24 MB): few enough threaded passes that waiting threads cost little.
constexpr std::size_t kBatch = std::size_t{1} << 19;

PeriodicCell cell_of(const SnapshotReader& r) {
    const SnapshotBox& b = r.box();
    return PeriodicCell(b.origin, b.edge, b.periodic);
}

std::string where(const SnapshotReader& r, long line) {
    return "\"" + r.path() + "\" (line " + std::to_string(line) + ")";
}

// Every cell centre of the grid must lie in the reference cell placed in the foil.
void check_cover(const SnapshotReader& r, const PeriodicCell& cell, const FoilPlacement& place,
                 const GradientBox& box) {
    for (int corner = 0; corner < 8; ++corner) {
        Vec3 p;
        for (std::size_t a = 0; a < 3; ++a) {
            const int n = box.cells[a];
            p[a] = ((corner >> a) & 1 ? n - 0.5 : 0.5) * box.unit(static_cast<int>(a));
        }
        const Vec3 s = cell.fractional(place.from_foil(p));
        for (double v : s)
            if (v < -1e-9 || v > 1.0 + 1e-9)
                halt({"The box of " + where(r, r.box().line) +
                          " does not cover the grid: the cell "
                          "centre (" +
                          std::to_string(p[0]) + ", " + std::to_string(p[1]) + ", " +
                          std::to_string(p[2]) + ") of the foil lies outside it",
                      "Place the box with --centre, or accept empty cells with --partial"});
    }
}

struct Waiting {
    Vec3 r;
    long line;
};

class Progress {
  public:
    Progress(std::ostream* out, std::int64_t total) : out_(out), total_(total) {}
    void update(std::int64_t done) {
        if (!out_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::seconds(2)) return;
        last_ = now;
        *out_ << " " << done << " of " << total_ << " atoms ("
              << (total_ ? 100 * done / total_ : 100) << "%)" << std::endl;
    }

  private:
    std::ostream* out_;
    std::int64_t total_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

} // namespace

ConversionSummary convert_snapshot(const SnapshotConversion& c, const GradientBox& box,
                                   const std::string& base) {
    const auto t0 = std::chrono::steady_clock::now();
    SnapshotReader cur(c.snapshot);
    std::unique_ptr<SnapshotReader> ref;
    if (!c.lattice) {
        ref = std::make_unique<SnapshotReader>(c.reference);
        if (ref->count() != cur.count())
            halt("The snapshot " + where(cur, cur.count_line()) + " holds " +
                 std::to_string(cur.count()) + " atoms, the reference " +
                 where(*ref, ref->count_line()) + " " + std::to_string(ref->count()));
    }
    const SnapshotReader& placed = ref ? *ref : cur;
    const PeriodicCell cur_cell = cell_of(cur), ref_cell = cell_of(placed);
    const FoilPlacement place(c.axes, box.foil, box.v_g, ref_cell.centre(),
                              c.centre ? *c.centre : scaled(box.size, 0.5));
    if (!c.partial) check_cover(placed, ref_cell, place, box);
    std::optional<ReferenceLattice> lattice;
    if (c.lattice) lattice.emplace(*c.lattice, c.lattice_a, c.axes, c.lattice_origin);

    ConversionSummary sum;
    sum.width = c.width;
    if (!(sum.width > 0.0)) {
        // About the nearest-neighbour distance of a close-packed crystal of this density.
        const double per_atom = ref_cell.volume() / double(std::max<std::int64_t>(1, cur.count()));
        sum.width = lattice ? lattice->neighbour_distance() : 1.1 * std::cbrt(per_atom);
    }
    KernelAverage avg(box, sum.width);

    std::vector<Vec3> pos, disp;
    auto take = [&](const Vec3& x, const Vec3& x_ref) {
        const Vec3 d = cur_cell.minimum_image({x[0] - x_ref[0], x[1] - x_ref[1], x[2] - x_ref[2]});
        sum.max_displacement = std::max(sum.max_displacement, magnitude(d));
        pos.push_back(place.to_foil(ref_cell.wrap(x_ref)));
        disp.push_back(place.to_cube(d));
        if (pos.size() >= kBatch) {
            avg.add(pos, disp);
            pos.clear();
            disp.clear();
        }
    };

    std::unordered_map<std::int64_t, Waiting> wait_cur, wait_ref;
    auto park = [&](std::unordered_map<std::int64_t, Waiting>& m, const SnapshotReader& r,
                    const SnapshotAtom& a) {
        const auto [it, fresh] = m.try_emplace(a.id, Waiting{a.r, a.line});
        if (!fresh)
            halt("Atom id " + std::to_string(a.id) + " appears twice in \"" + r.path() +
                 "\" (lines " + std::to_string(it->second.line) + " and " + std::to_string(a.line) +
                 ")");
    };

    Progress progress(c.progress, cur.count());
    std::vector<SnapshotAtom> a, b;
    std::int64_t done = 0;
    while (cur.next(a, kChunk) > 0) {
        if (lattice) {
            for (const auto& s : a) take(s.r, lattice->nearest_site(s.r));
        } else {
            ref->next(b, a.size());
            for (std::size_t n = 0; n < a.size(); ++n) {
                if (a[n].id == b[n].id && wait_cur.empty() && wait_ref.empty()) {
                    take(a[n].r, b[n].r);
                    continue;
                }
                // Out of step: each atom meets its partner now or waits for it.
                if (auto it = wait_ref.find(a[n].id); it != wait_ref.end()) {
                    take(a[n].r, it->second.r);
                    wait_ref.erase(it);
                } else {
                    park(wait_cur, cur, a[n]);
                }
                if (auto it = wait_cur.find(b[n].id); it != wait_cur.end()) {
                    take(it->second.r, b[n].r);
                    wait_cur.erase(it);
                } else {
                    park(wait_ref, *ref, b[n]);
                }
                sum.most_waiting = std::max(sum.most_waiting, wait_cur.size() + wait_ref.size());
            }
        }
        done += static_cast<std::int64_t>(a.size());
        progress.update(done);
    }
    if (!wait_cur.empty() || !wait_ref.empty()) {
        const bool mine = !wait_cur.empty();
        const auto& m = mine ? wait_cur : wait_ref;
        auto first = m.begin();
        for (auto it = m.begin(); it != m.end(); ++it)
            if (it->second.line < first->second.line) first = it;
        halt("Atom id " + std::to_string(first->first) + " of " +
             where(mine ? cur : *ref, first->second.line) + " is not in " +
             (mine ? "the reference \"" + ref->path() : "the snapshot \"" + cur.path()) + "\"");
    }
    if (!pos.empty()) avg.add(pos, disp);

    sum.atoms = cur.count();
    sum.cells = std::int64_t{box.cells[0]} * box.cells[1] * box.cells[2];
    sum.empty_cells = avg.empty_cells();
    const auto t1 = std::chrono::steady_clock::now();
    write_gradient_slices(
        base, box, [&avg](int l, std::vector<Gradient>& g) { avg.gradients(l, g); }, c.output);
    sum.read_seconds = std::chrono::duration<double>(t1 - t0).count();
    sum.write_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
    return sum;
}

} // namespace korvex
