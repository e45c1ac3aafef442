// Where a check cycle's results go: the log, the tray and its menus, the mail, the event log, the
// metrics file, the history and the pipe's status each take them through this one interface,
// so that the form drives the cycle without knowing who listens. An output is told in the order
// it was registered.
#pragma once

#include "monitor/proberesult.h"

#include <string>
#include <vector>

// A finished cycle as every output receives it.
struct CycleReport {
    const CycleResults& Results;
    // The benchmark's address as it was probed.
    std::string BenchmarkUrl;
};

class CycleOutput {
public:
    virtual ~CycleOutput() = default;
    virtual void CycleStarted() {}
    virtual void CycleDone(const CycleReport& report) = 0;
    // The monitor ends; what an output left outside the program for running checks goes.
    virtual void Stopped() {}
};

// The registered outputs, told one after the other.
class CycleOutputs {
public:
    CycleOutputs() = default;
    CycleOutputs(std::initializer_list<CycleOutput*> outputs) : outputs_(outputs) {}
    void CycleStarted() {
        for (CycleOutput* output : outputs_)
            output->CycleStarted();
    }
    void CycleDone(const CycleReport& report) {
        for (CycleOutput* output : outputs_)
            output->CycleDone(report);
    }
    void Stopped() {
        for (CycleOutput* output : outputs_)
            output->Stopped();
    }

private:
    std::vector<CycleOutput*> outputs_;
};
