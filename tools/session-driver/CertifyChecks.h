// The conformance run's test plan as data: its groups with their weights in
// the score, its checks, and what one check found.
#ifndef TRACELET_SESSION_CERTIFY_CHECKS_H
#define TRACELET_SESSION_CERTIFY_CHECKS_H

#include <string>
#include <vector>

namespace certify {

struct Group {
    int number;
    const char* name;
    int weight;  // share of the score, out of 100
};

struct CheckDef {
    const char* id;
    int group;
    const char* title;
};

const std::vector<Group>& Groups();
const std::vector<CheckDef>& Checks();
const Group* FindGroup(int number);

enum class Verdict { Pass, Fail, NotApplicable, NotRun };
const char* VerdictName(Verdict v);  // "pass", "fail", "not applicable", "not run"

// One thing a check found wrong. `call` numbers the run's own calls through
// DS_Entry that the trace lists (from 1; 0: no call); the report turns it
// into the sequence number of that call in the log.
struct Finding {
    long call = 0;
    std::string text;
    long long seq = -1;  // filled in from the log
};

struct Result {
    std::string id;
    Verdict verdict = Verdict::NotRun;
    std::string note;  // why not applicable, what was measured
    std::vector<Finding> findings;
    long moreFindings = 0;  // findings beyond those kept
};

// Findings kept per check; the rest are counted.
constexpr std::size_t kFindingsKept = 12;

// Score out of 100: each group weighs its weight times the share of its
// applicable checks that passed; groups with no applicable check leave the
// score, which is scaled to the weight of the others.
int Score(const std::vector<Result>& results);

}  // namespace certify

#endif  // TRACELET_SESSION_CERTIFY_CHECKS_H
