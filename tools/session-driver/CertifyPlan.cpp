#include "CertifyPlan.h"

#include <dlfcn.h>

#include <cstdio>

#include "CertifyBench.h"

namespace certify {

int Bench::Run() {
    m_library = dlopen(m_options.dataSource.c_str(), RTLD_NOW | RTLD_LOCAL);
    m_entry = m_library ? reinterpret_cast<DSENTRYPROC>(dlsym(m_library, "DS_Entry")) : nullptr;
    if (!m_entry) {
        const char* why = dlerror();
        std::fprintf(stderr, "tracelet-session: cannot load %s: %s\n", m_options.dataSource.c_str(),
                     why ? why : "no DS_Entry");
        return 1;
    }
    Group(1, &Bench::Identity);
    Group(2, &Bench::Mandatory);
    Group(3, &Bench::EveryCapability);
    Group(4, &Bench::StatusGroup);
    Group(5, &Bench::Sequence);
    Group(6, &Bench::Transfers);
    Group(7, &Bench::Stress);
    if (m_open) Close();
    // The status after every failure is checked to the end of the run:
    // its result is written again, with what the later groups found.
    m_rec.Finish(4);
    m_rec.Ran("run.completes");
    m_rec.Finish(0);
    m_rec.Line({{"type", "end"}});
    return 0;
}

void Bench::Group(int number, void (Bench::*body)()) {
    m_rec.Line({{"type", "group"}, {"group", number}});
    (this->*body)();
    m_rec.Finish(number);
}

int RunPlan(const PlanOptions& options) {
    Recorder rec(options.resultsPath);
    Bench bench(options, rec);
    return bench.Run();
}

}  // namespace certify
