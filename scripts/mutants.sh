#!/usr/bin/env bash
# Plants faults one at a time and runs the tests that should catch each.
#
#   scripts/mutants.sh [NAME...]   all faults, or only the named ones
#   scripts/mutants.sh --check     only whether every fault's text still matches
#
# Each fault is a file, a text that must occur exactly once in it, and its
# replacement. The tracked tree is copied once to a scratch folder with its
# own build (MUTANTS_DIR, default /tmp/tracelet-mutants); before each fault
# the file is put back as it is in the tree, so every build is incremental.
# A fault is "caught" when a test fails (or the faulty tree does not build),
# "missed" when the tests pass, "stale" when its text no longer occurs
# exactly once (the code moved on: update the fault). Exits non-zero unless
# every fault was caught.
#
# Tests are test executables under the build folder, with an optional
# gtest filter after a colon, or "ctest:REGEX" for tests ctest runs.
set -uo pipefail
# Run from a copy of this file, so that editing it during a run cannot
# change the run.
if [ -z "${TRACELET_MUTANTS_ROOT:-}" ]; then
    TRACELET_MUTANTS_ROOT=$(cd "$(dirname "$0")/.." && pwd)
    export TRACELET_MUTANTS_ROOT
    copy=$(mktemp)
    cp "$0" "${copy}"
    exec bash -c 'script=$1; shift; trap "rm -f \"$script\"" EXIT; bash "$script" "$@"' mutants "${copy}" "$@"
fi
cd "${TRACELET_MUTANTS_ROOT}"
root=$(pwd)
work=${MUTANTS_DIR:-/tmp/tracelet-mutants}
jobs=${TRACELET_JOBS:-$(nproc)}

U=build/tests/tracelet_unit_tests
E=build/tests/tracelet_e2e_tests
N=build/tests/tracelet_noheap_tests
VS=build/tools/virtual-scanner/tests/tracelet_virtual_scanner_tests
SD=build/tools/session-driver/tests/tracelet_session_tests
SL=build/tools/session-driver/tests/tracelet_session_log_tests
PU=build/tools/passthrough/tests/tracelet_passthrough_unit_tests
PC=build/tools/passthrough/tests/tracelet_passthrough_chain_tests
R=$(for d in reader analyser; do [ -d "$d" ] && echo "build/$d/tracelet_log_tests" && break; done)
RD=$(for d in reader analyser; do [ -d "$d" ] && echo "$d" && break; done)
TBL=data/name-tables.tsv

names=() files=() tests=() froms=() tos=()
fault() { names+=("$1"); files+=("$2"); tests+=("$3"); froms+=("$4"); tos+=("$5"); }

# --- the shell ---------------------------------------------------------------
fault shell-rc-changed src/shell/DSEntry.cpp "$E" \
    '    if (enable) --s_enablesInFlight;
    return rc;' '    if (enable) --s_enablesInFlight;
    return rc == TWRC_CHECKSTATUS ? TWRC_SUCCESS : rc;'
fault shell-pdata-written src/shell/DSEntry.cpp "$E" \
    'const TW_UINT16 rc = manager ? manager(pOrigin, pDest, DG, DAT, MSG, pData) : TWRC_FAILURE;' \
    'const TW_UINT16 rc = manager ? manager(pOrigin, pDest, DG, DAT, MSG, pData) : TWRC_FAILURE; if (pData) *static_cast<char*>(pData) = 0;'
fault shell-entrypoint-size-check src/shell/DSEntry.cpp "$E" \
    'if (CopyIn<TW_UINT32>(pData) != sizeof(TW_ENTRYPOINT)) return pData;' \
    'if (CopyIn<TW_UINT32>(pData) < 4) return pData;'
fault shell-no-companion-success src/shell/DSEntry.cpp "$E" \
    'if (!g_pcTripletOperator) return TWRC_FAILURE;' 'if (!g_pcTripletOperator) return TWRC_SUCCESS;'
fault analyzer-error-marker-dropped src/analyzer/ParaAnalyze.cpp "$E" \
    'if (RC == TWRC_FAILURE) {' 'if (RC == TWRC_CANCEL) {'
fault analyzer-overflow-note-dropped src/analyzer/ParaAnalyze.cpp "$E" \
    'if (cut) {' 'if (false) {'

# --- the analyzer --------------------------------------------------------------
fault analyzer-state-opends logmodel/tracelet/logmodel.h "$U $E $R" \
    'case MSG_OPENDS: return state == 3 ? 4 : state;' 'case MSG_OPENDS: return state == 3 ? 5 : state;'
fault analyzer-state-endxfer logmodel/tracelet/logmodel.h "$U $E $R" \
    'return c.count != 0 ? 6 : 5;' 'return c.count != 0 ? 6 : 4;'
fault analyzer-state-disable-any-dat logmodel/tracelet/logmodel.h "$U $E $R" \
    'case MSG_DISABLEDS: return c.dat == DAT_USERINTERFACE && state == 5 ? 4 : state;' \
    'case MSG_DISABLEDS: return state == 5 ? 4 : state;'
fault analyzer-notify-enabling logmodel/tracelet/logmodel.h "$U $E $R" \
    '(state == 5 || (state == 4 && enable_in_flight))' '(state == 5)'
fault analyzer-event-null-check src/analyzer/ParaAnalyze.cpp "$U $E" \
    'if (pData && DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT) {' 'if (DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT) {'
fault analyzer-status-crlf src/analyzer/ParaAnalyze.cpp "$U $E" \
    'TRACE_APPEND(m_out, tracelet::logmodel::kStateFormat, CRLF, state, CRLF);' 'TRACE_APPEND(m_out, tracelet::logmodel::kStateFormat, CRLF, state, "\n");'
fault analyzer-dispatch-row src/analyzer/ParaAnalyze.cpp "$U $E" \
    '{DAT_SETUPMEMXFER, &CParaAnalyze::DatSetupMemXferAnalyze},' \
    '{DAT_SETUPMEMXFER, &CParaAnalyze::DatXferGroupAnalyze},'

# --- the formatters ------------------------------------------------------------
fault vendor-pascal-bound src/formatters/TwVendor.cpp "$U" \
    'if (n > sizeof field - 1) n = sizeof field - 1;' 'if (n > sizeof field) n = sizeof field;'
fault vendor-fields-swapped src/formatters/TwVendor.cpp "$U" \
    'TRACE_APPEND(out, "    Top          = [%d]%s", v.Top, CRLF);' 'TRACE_APPEND(out, "    Top          = [%d]%s", v.Left, CRLF);'
fault vendor-sign src/formatters/TwVendor.cpp "$U" \
    'TRACE_APPEND(out, "    Left         = [%d]%s", v.Left, CRLF);' 'TRACE_APPEND(out, "    Left         = [%d]%s", static_cast<TW_UINT16>(v.Left), CRLF);'
fault vendor-coeff-count src/formatters/TwVendor.cpp "$U" \
    'constexpr size_t kCoeffCount = 9;' 'constexpr size_t kCoeffCount = 8;'
fault vendor-null-check src/analyzer/TwAnalyze.cpp "$U" \
    'if (p) DumpNvSettingFrame(m_out, CopyIn<TWNV_SETTINGFRAME>(p));' 'DumpNvSettingFrame(m_out, CopyIn<TWNV_SETTINGFRAME>(p));'
fault vendor-crlf src/formatters/TwVendor.cpp "$U" \
    'TRACE_APPEND(out, "    CurrentNum  = [%d]%s", v.CurrentNum, CRLF);' 'TRACE_APPEND(out, "    CurrentNum  = [%d]\n", v.CurrentNum);'
# (The reader is bounded by the block as well, so the head's own size check
# is planted where the copied head is judged whole.)
fault capability-head-bound src/formatters/TwCapability.cpp "$U $E" \
    'return in.Copy(&head, p, headBytes) == headBytes;' 'return in.Copy(&head, p, headBytes) != 0;'
# (Items that are read are bounded by the reader as well; items that are not,
# frames and unknown types, only by the count clamped to the block.)
fault capability-count-clamp src/formatters/Items.cpp "$U $E" \
    'out.HasBuffer() && walk.next < walk.inBlock; ++walk.next)' 'out.HasBuffer(); ++walk.next)'
fault capability-failed-call-container src/formatters/TwCapability.cpp "$U $E" \
    'if (!failed) DumpContainer(out, cap);' 'DumpContainer(out, cap);'
fault image-fields-swapped src/formatters/TwImage.cpp "$U $E" \
    'Fix(v.XResolution), CRLF);' 'Fix(v.YResolution), CRLF);'
fault control-fields-swapped src/formatters/TwControl.cpp "$U $E" \
    'Signed(v.Count), CRLF);' 'Signed(v.EOJ), CRLF);'

# --- the name tables -------------------------------------------------------------
fault tables-msg-row "$TBL" "$U $E" $'msg_macros\tMSG_GET\t1\n' $'msg_macros\tMSG_GET\t2\n'
fault tables-twty-row "$TBL" "$U $E" $'twty_macros\tTWTY_UINT16\t4\n' $'twty_macros\tTWTY_UINT16\t3\n'
fault tables-cap-row "$TBL" "$U $E" $'cap_macros\tCAP_XFERCOUNT\t1\n' $'cap_macros\tCAP_XFERCOUNTS\t1\n'
fault tables-vendor-row "$TBL" "$U" $'twnv_ft_macros\tTWNV_FT_NEGA\t1\n' $'twnv_ft_macros\tTWNV_FT_NEGA\t2\n'

# --- the log file ------------------------------------------------------------------
fault log-name-field-order src/log/TwainLogFile.cpp "$U" \
    'local.tm_mon + 1, local.tm_mday,' 'local.tm_mday, local.tm_mon + 1,'
fault log-path-bound src/log/TwainLogFile.cpp "$U" \
    'if (n >= kPathSize) return kParamErr;' 'if (n > kPathSize) return kParamErr;'
fault log-null-bytes src/platform/Platform.cpp "$U $E" \
    'if (!file || !bytes) return;' 'if (!file) return;'
fault log-state-after-setup src/log/TwainLogFile.cpp "$U $E" \
    'g_cParaAnalyze.SetTwainStatus(tracelet::logmodel::kStateAtLoad);' 'g_cParaAnalyze.SetTwainStatus(2);'
fault log-format-retry src/log/TwainLog.cpp "$U" \
    'size = static_cast<size_t>(n) + 1;  // exactly the text and its NUL' 'size = static_cast<size_t>(n);'
fault log-level-name src/log/TwainLog.cpp "$U" \
    'case ENUM_LOG_LEVEL_TW::LOG_LEVEL_WARNING: return "WARNING";' 'case ENUM_LOG_LEVEL_TW::LOG_LEVEL_WARNING: return "WARN";'

# --- the virtual scanner -------------------------------------------------------------
fault scanner-enum-index-bound tools/virtual-scanner/Containers.cpp "$VS" \
    'if (isEnum && c.currentIndex < n)' 'if (isEnum && c.currentIndex <= n)'
fault scanner-enum-fields-swapped tools/virtual-scanner/Containers.cpp "$VS" \
    'PutU32(p, offsetof(TW_ENUMERATION, CurrentIndex), c.currentIndex);' 'PutU32(p, offsetof(TW_ENUMERATION, CurrentIndex), c.defaultIndex);'
fault scanner-state-enable tools/virtual-scanner/VirtualScanner.cpp "$VS" \
    'if (m_state != kEnabled) return Failure(TWCC_SEQERROR);' 'if (m_state < kOpen) return Failure(TWCC_SEQERROR);'
fault scanner-null-event tools/virtual-scanner/VirtualScanner.cpp "$VS" \
    'if (!event) return Failure(TWCC_BADVALUE);' ''
fault scanner-xfercount-sign tools/virtual-scanner/Capabilities.cpp "$VS" \
    'if (v != -1 && v < 1) return Failure(TWCC_BADVALUE);' 'if (v < 1) return Failure(TWCC_BADVALUE);'

# --- the session driver -----------------------------------------------------------------
fault session-pnm-16bit-swap tools/session-driver/PageImage.cpp "$SD" \
    'row[i] = src[i + 1];  // host (little-endian) to big-endian' 'row[i] = src[i];'
fault session-pnm-magic tools/session-driver/PageImage.cpp "$SD" \
    'page.pixelType == TWPT_GRAY ? "P5" : "P6"' 'page.pixelType == TWPT_GRAY ? "P6" : "P5"'
fault session-fix32-sign tools/session-driver/Session.cpp "$SD $SL" \
    '(value < 0 ? -0.5 : 0.5)' '0.5'
fault session-memxfer-bound tools/session-driver/Session.cpp "$SL" \
    'x.Rows <= page.height - x.YOffset' 'x.Rows <= page.height'

# --- the pass-through companion -------------------------------------------------------------
fault passthrough-no-entry-rc tools/passthrough/PassThroughOperator.cpp "$PC" \
    'if (!entry_) return TWRC_FAILURE;' 'if (!entry_) return TWRC_SUCCESS;'
fault passthrough-trim tools/passthrough/TargetConfig.cpp "$PU $PC" \
    'const std::string value = Trim(line.substr(equals + 1));' 'const std::string value = line.substr(equals + 1);'
fault passthrough-relative-path tools/passthrough/TargetConfig.cpp "$PU $PC" \
    ': (folder == "/" ? "/" : folder + "/") + parsed.target;' ': folder + parsed.target;'

# --- the log reader ------------------------------------------------------------------------------
fault reader-call-id-width "$RD/src/trace/parser.cpp" "$R" '"%05lld", seq' '"%04lld", seq'
fault reader-seq-digit-bound "$RD/src/trace/parser.cpp" "$R" \
    "bool is_digit(char c) { return c >= '0' && c <= '9'; }" "bool is_digit(char c) { return c >= '0' && c < '9'; }"
fault reader-check-state-bound "$RD/src/trace/check.cpp" "$R" \
    'if (s.before < 5 || s.before > 7) {' 'if (s.before < 4 || s.before > 7) {'
fault reader-check-bytes-written "$RD/src/trace/check.cpp" "$R" \
    'written > length)' 'written > length + 1)'
fault reader-check-pending-count "$RD/src/trace/check.cpp" "$R" \
    'count != pending_count_ - 1) {' 'count != pending_count_) {'
fault reader-check-count-sign "$RD/src/trace/check.cpp" "$R" 'if (count < -1) {' 'if (count < 0) {'
fault reader-infer-transfer-ready "$RD/src/trace/states.cpp" "$R" \
    's.before = 6;
            s.inferred = true;' 's.before = 5;
            s.inferred = true;'
fault reader-summary-bytes-lost "$RD/src/trace/summary.cpp" "$R" 'p.bytes += written;' 'p.bytes = written;'
fault reader-item-index-kept "$RD/src/trace/parser.cpp" "$R" \
    'top->items.emplace_back(rest.substr(colon + 1));' 'top->items.emplace_back(rest.substr(colon));'

# ----------------------------------------------------------------------------------------------------

count_in() { FROM="$2" perl -0777 -ne '$c = () = /\Q$ENV{FROM}\E/g; print $c' "$1"; }

if [ "${1:-}" = --check ]; then
    bad=0
    for i in "${!names[@]}"; do
        if [ ! -f "${files[$i]}" ] || [ "$(count_in "${files[$i]}" "${froms[$i]}")" != 1 ]; then
            echo "stale: ${names[$i]} (${files[$i]})"; bad=1
        fi
    done
    echo "${#names[@]} faults"
    exit "${bad}"
fi
only=("$@")
wanted() {
    [ ${#only[@]} -eq 0 ] && return 0
    local n; for n in "${only[@]}"; do [ "$n" = "$1" ] && return 0; done; return 1
}


echo "=== copying the tree to ${work}"
# A fresh copy of the tracked files (the build folder kept), every file
# newer than anything built from an earlier copy, so that nothing stale
# (a file since deleted, an object of an older text) takes part.
mkdir -p "${work}/tree"
find "${work}/tree" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
git ls-files -z | tar --null -T - -cf - | tar -xmf - -C "${work}/tree" || exit 1
cd "${work}/tree"
echo "=== building"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRACELET_BUILD_BENCHMARKS=OFF >"${work}/configure.log" \
    || { cat "${work}/configure.log"; exit 1; }
cmake --build build -j "${jobs}" >"${work}/build.log" 2>&1 || { tail -40 "${work}/build.log"; exit 1; }

run_tests() {
    local t exe filter
    for t in $1; do
        if [[ $t == ctest:* ]]; then
            ctest --test-dir build -R "${t#ctest:}" -j "${jobs}" >>"${work}/fault.log" 2>&1 || return 1
        else
            exe=${t%%:*}
            filter=${t#"$exe"}
            filter=${filter#:}
            # In a subshell, so that a crash is reported to the log, not here.
            ("./${exe}" ${filter:+--gtest_filter="$filter"}) >>"${work}/fault.log" 2>&1 || return 1
        fi
    done
    return 0
}

caught=0 missed=0 stale=0
report=()
for i in "${!names[@]}"; do
    wanted "${names[$i]}" || continue
    f=${files[$i]}
    outcome=
    if [ ! -f "${root}/$f" ] || [ "$(count_in "${root}/$f" "${froms[$i]}")" != 1 ]; then
        outcome=stale
    else
        FROM="${froms[$i]}" TO="${tos[$i]}" perl -0777 -pe 's/\Q$ENV{FROM}\E/$ENV{TO}/' "${root}/$f" >"$f"
        : >"${work}/fault.log"
        if ! cmake --build build -j "${jobs}" >>"${work}/fault.log" 2>&1; then
            outcome="caught (does not build)"
        elif run_tests "${tests[$i]}"; then
            outcome=missed
        else
            outcome=caught
        fi
        cp "${root}/$f" "$f"
        cp "${work}/fault.log" "${work}/${names[$i]}.log"
    fi
    case $outcome in
        caught*) caught=$((caught + 1)) ;;
        missed) missed=$((missed + 1)) ;;
        stale) stale=$((stale + 1)) ;;
    esac
    line=$(printf '%-32s %-40s %s' "${names[$i]}" "$f" "$outcome")
    report+=("$line")
    echo "$line"
done

echo
echo "=== faults"
printf '%s\n' "${report[@]}"
summary="${caught} caught, ${missed} missed"
[ "${stale}" -eq 0 ] || summary+=", ${stale} stale"
echo "${summary}"
[ "${missed}" -eq 0 ] && [ "${stale}" -eq 0 ]
