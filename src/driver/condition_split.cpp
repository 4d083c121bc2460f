#include "driver/condition_split.hpp"

#include "driver/condition_tape.hpp"
#include "output/run_record.hpp"
#include "state/error.hpp"
#include "state/settings.hpp"

#include <new>

namespace korvex {

namespace {

enum Tag { kGo = 1, kStop = 2, kRecord = 3 };

int owner(int s, int size) {
    return (s - 1) % size;
}

// The last condition of process r.
int last_condition(int r, int size) {
    return r + 1 + size * ((kSeriesLength - 1 - r) / size);
}

// The run's context for one condition, restored however the condition ends.
class ConditionScope {
  public:
    ConditionScope(State& st, RunContext& rc, ConditionTape* tape)
        : st_(st), rc_(rc), out_(st.out) {
        rc.tape = tape;
        if (tape && !tape->replaying()) st.out = &tape->console();
    }
    ~ConditionScope() {
        rc_.tape = nullptr;
        st_.out = out_;
    }
    ConditionScope(const ConditionScope&) = delete;
    ConditionScope& operator=(const ConditionScope&) = delete;

  private:
    State& st_;
    RunContext& rc_;
    std::ostream* out_;
};

void write_series(State& st, RunContext& rc) {
    Communicator& comm = *rc.comm;
    const int size = comm.size();
    int s = 1, failed = -1;
    try {
        for (; s <= kSeriesLength; ++s) {
            select_condition(st, rc, s);
            if (owner(s, size) == 0) {
                run_condition(st, rc);
            } else {
                comm.send(owner(s, size), kGo, {});
                int tag = kRecord;
                ConditionTape tape(comm.receive(owner(s, size), tag));
                if (tape.failed()) {
                    failed = owner(s, size);
                    std::vector<std::string> lines = tape.failure(st.console());
                    if (lines.empty())
                        lines.push_back("The run stopped in process " + std::to_string(failed) +
                                        ".");
                    halt(lines);
                }
                const ConditionScope scope(st, rc, &tape);
                run_condition(st, rc);
            }
            if (s < kSeriesLength) record_new_simulation(rc);
        }
    } catch (...) {
        for (int r = 1; r < size; ++r)
            if (r != failed && last_condition(r, size) > s) comm.send(r, kStop, {});
        throw;
    }
}

void compute_series(State& st, RunContext& rc) {
    Communicator& comm = *rc.comm;
    for (int s = comm.rank() + 1; s <= kSeriesLength; s += comm.size()) {
        select_condition(st, rc, s);
        ConditionTape tape;
        tape.abandoned = [&comm] { return comm.waiting(0, kStop); };
        bool abandoned = false;
        try {
            const ConditionScope scope(st, rc, &tape);
            run_condition(st, rc);
        } catch (const Fatal& e) {
            if (is_quiet_stop(e))
                abandoned = true;
            else
                tape.fail(e.lines());
        } catch (const std::bad_alloc&) {
            tape.fail({"Not enough memory for the arrays of this run; reduce the number of grids"});
        } catch (const std::exception& e) {
            tape.fail({std::string("Internal error: ") + e.what()});
        }
        int tag = abandoned ? kStop : -1;
        comm.receive(0, tag);
        if (tag == kStop) return;
        comm.send(0, kRecord, tape.bytes());
        if (tape.failed()) return;
    }
}

} // namespace

bool series_split_by_condition(const State& st, const RunContext& rc) {
    return rc.comm && rc.comm->size() > 1 && rc.comm->size() <= kSeriesLength &&
           st.job != Job::amplitude_phase && !rc.display;
}

void run_series_split(State& st, RunContext& rc) {
    rc.whole_conditions = true;
    try {
        if (rc.comm->writer())
            write_series(st, rc);
        else
            compute_series(st, rc);
    } catch (...) {
        rc.whole_conditions = false;
        throw;
    }
    rc.whole_conditions = false;
}

} // namespace korvex
