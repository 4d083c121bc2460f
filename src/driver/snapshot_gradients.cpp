#include "driver/snapshot_gradients.hpp"

#include "driver/resource_checks.hpp"
#include "state/error.hpp"
#include "state/snapshot.hpp"
#include "state/stop_signals.hpp"

#include <chrono>
#include <cmath>
#include <memory>
#include <unordered_map>
#include <unordered_set>

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

// The ids met in one file, to find one that comes twice: a bit for each id below a bound that
// follows the atom count (ids run from 1 to about the count, more after atoms were deleted; at
// most 128 MB of bits), a table for the others.
class SeenIds {
  public:
    explicit SeenIds(std::int64_t count) : bits_(static_cast<std::size_t>(bit_count(count))) {}
    static double bytes(std::int64_t count) { return bit_count(count) / 8.0; }
    // False when the id was met before.
    bool insert(std::int64_t id) {
        if (id >= 0 && static_cast<std::uint64_t>(id) < bits_.size()) {
            auto bit = bits_[static_cast<std::size_t>(id)];
            if (bit) return false;
            bit = true;
            return true;
        }
        return others_.insert(id).second;
    }

  private:
    static double bit_count(std::int64_t count) {
        return std::min(8.0 * double(std::max<std::int64_t>(count, 0)) + 1024.0, 0x1p30);
    }
    std::vector<bool> bits_;
    std::unordered_set<std::int64_t> others_;
};

// The line of the first atom of `path` with this id (read again: only for a message).
long first_line_of(const std::string& path, std::int64_t id) {
    SnapshotReader r(path);
    std::vector<SnapshotAtom> a;
    while (r.next(a, kChunk) > 0)
        for (const auto& x : a)
            if (x.id == id) return x.line;
    return 0;
}

void check_unique(SeenIds& seen, const SnapshotReader& r, const std::vector<SnapshotAtom>& atoms) {
    for (const auto& a : atoms)
        if (!seen.insert(a.id))
            halt("Atom id " + std::to_string(a.id) + " appears twice in \"" + r.path() +
                 "\" (lines " + std::to_string(first_line_of(r.path(), a.id)) + " and " +
                 std::to_string(a.line) + ")");
}

void check_stop() {
    if (const char* sig = received_stop_signal())
        halt({std::string("Stopped by ") + sig + " while the atoms were read and averaged",
              "(no gradient file was written)"});
}

std::string number_text(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
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
            halt({"The snapshot " + where(cur, cur.count_line()) + " holds " +
                      std::to_string(cur.count()) + " atoms, the reference " +
                      where(*ref, ref->count_line()) + " " + std::to_string(ref->count()),
                  "Every atom needs its partner of the same id. Atoms deleted after the "
                  "reference was dumped: dump the reference again after \"delete_atoms ... "
                  "compress no\" (ids kept), or compare with a perfect lattice (--lattice S A)"});
    }
    const SnapshotReader& placed = ref ? *ref : cur;
    const PeriodicCell cur_cell = cell_of(cur), ref_cell = cell_of(placed);
    const FoilPlacement place(c.axes, box.foil, box.v_g, ref_cell.centre(),
                              c.centre ? *c.centre : scaled(box.size, 0.5));
    if (!c.partial) check_cover(placed, ref_cell, place, box);
    std::optional<ReferenceLattice> lattice;
    if (c.lattice) lattice.emplace(*c.lattice, c.lattice_a, c.axes, c.lattice_origin);

    ConversionSummary sum;
    auto warn = [&](const std::string& w) {
        sum.warnings.push_back(w);
        if (c.warn) c.warn(w);
    };
    const double per_atom = ref_cell.volume() / double(std::max<std::int64_t>(1, cur.count()));
    sum.width = c.width;
    if (!(sum.width > 0.0)) {
        // About the nearest-neighbour distance of a close-packed crystal of this density.
        sum.width = lattice ? lattice->neighbour_distance() : 1.1 * std::cbrt(per_atom);
    }
    if (!std::isfinite(sum.width))
        halt("The kernel width is not finite: the box of " + where(placed, placed.box().line) +
             " holds " + number_text(ref_cell.volume()) + " cubic Angstrom; give --width");

    // Memory and disk space before anything is made: the averages of every cell, one slice of
    // the files' records, the ids met in each file; the three files.
    const std::string grid = std::to_string(box.cells[0]) + " x " + std::to_string(box.cells[1]) +
                             " x " + std::to_string(box.cells[2]) + " cells";
    check_memory_need(KernelAverage::bytes(box) + gradient_writer_memory(box, c.output) +
                          SeenIds::bytes(cur.count()) * (ref ? 2 : 1),
                      "the atoms averaged onto " + grid + " (56 bytes a cell)");
    check_disk_need(
        base, 3.0 * gradient_file_size(box, c.output),
        base + ".dX, .dY and .dZ (" + grid +
            (c.output.format == GradientFormat::text ? ", text: at least 7 bytes a cell)" : ")"));

    // Grids that can only give zero or meaningless gradients.
    const double extent = std::max({box.size[0], box.size[1], box.size[2]});
    const double sites = lattice ? lattice->sites_per_volume() : 0.0, atoms = 1.0 / per_atom;
    if (cur.count() == 0)
        warn("The snapshot \"" + cur.path() + "\" holds no atoms");
    else if (lattice && !(atoms < 2.0 * sites && atoms > 0.5 * sites))
        warn("The snapshot holds " + number_text(atoms) +
             " atoms per cubic Angstrom, the lattice of --lattice " + number_text(sites) +
             " sites: is its lattice constant right?");
    if (cur.count() > 0 && sum.width > extent)
        warn("The kernel width " + number_text(sum.width) + " Angstrom exceeds the grid (" +
             number_text(extent) + " Angstrom): every cell averages nearly the same atoms" +
             (c.width > 0.0 ? ""
                            : " (the box holds " + number_text(per_atom) +
                                  " cubic Angstrom per atom); give --width"));
    if (cur.count() > 0 && sum.width < 0.5 * std::min({box.unit(0), box.unit(1), box.unit(2)}))
        warn("The kernel width " + number_text(sum.width) +
             " Angstrom is less than half a cell: most cell centres have no atom within it");
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
    SeenIds seen_cur(cur.count());
    std::optional<SeenIds> seen_ref;
    if (ref) seen_ref.emplace(ref->count());
    while (cur.next(a, kChunk) > 0) {
        check_stop();
        check_unique(seen_cur, cur, a);
        if (ref) {
            ref->next(b, a.size());
            check_unique(*seen_ref, *ref, b);
        }
        if (lattice) {
            for (const auto& s : a) take(s.r, lattice->nearest_site(s.r));
        } else {
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

    check_stop();

    sum.atoms = cur.count();
    sum.cells = std::int64_t{box.cells[0]} * box.cells[1] * box.cells[2];
    sum.empty_cells = avg.empty_cells();
    const auto t1 = std::chrono::steady_clock::now();
    std::int64_t all_zero = 0; // cells written with nine zeros, whatever the cause
    write_gradient_slices(
        base, box,
        [&](int l, std::vector<Gradient>& g) {
            sum.unfit_cells += avg.gradients(l, g);
            for (const Gradient& d : g) all_zero += d == Gradient{};
        },
        c.output);
    sum.read_seconds = std::chrono::duration<double>(t1 - t0).count();
    sum.write_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
    const std::int64_t none = sum.empty_cells + sum.unfit_cells;
    if (sum.atoms > 0 && all_zero == sum.cells) // (no atoms: said above)
        warn("Every gradient written is zero (of " + std::to_string(sum.cells) + " cells, " +
             std::to_string(sum.empty_cells) + " without atoms within the kernel width of " +
             number_text(sum.width) + " Angstrom, " + std::to_string(sum.unfit_cells) +
             " with too few to tell a slope)");
    else if (sum.atoms > 0 && 2 * none > sum.cells)
        warn(std::to_string(none) + " of " + std::to_string(sum.cells) +
             " cells got zero gradients (no atoms within the kernel width, or too few to tell "
             "a slope)");
    return sum;
}

} // namespace korvex
