# One end-to-end case of the playback companion: tracelet-session scans with
# the virtual scanner through a traced data source (RECORD_DS, its log in
# RECORD_ROOT/LOG/TWAIN), then again through a traced data source whose
# companion is the playback companion (PLAY_DS, PLAY_ROOT), answered from
# that recording.
# cmake -DCASE=... -DSESSION=... -DREADER=... -DRECORD_DS=... -DRECORD_ROOT=... -DPLAY_DS=... -DPLAY_ROOT=...
#       -P PlaybackRun.cmake

# Runs tracelet-session on `ds` with its log in `root`; sets <prefix>_rc,
# <prefix>_out, <prefix>_err.
function(run prefix ds root)
  execute_process(COMMAND "${SESSION}" --ds "${ds}" --log-dir "${root}/LOG/TWAIN" --output "${root}/scans"
                          --no-log-print ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
  set(${prefix}_rc "${rc}" PARENT_SCOPE)
  set(${prefix}_out "${out}" PARENT_SCOPE)
  set(${prefix}_err "${err}" PARENT_SCOPE)
endfunction()

function(fresh root)
  file(REMOVE_RECURSE "${root}/LOG" "${root}/scans")
  file(MAKE_DIRECTORY "${root}/LOG/TWAIN")
endfunction()

function(fail what)
  message(FATAL_ERROR "${CASE}: ${what}\nrecord: ${record_rc}\n${record_err}\nplay: ${play_rc}\n${play_out}\n${play_err}")
endfunction()

# Records a session with `images` (the image folder in the log folder) or
# not, then plays it back in `mode`; the extra arguments go to both
# sessions unless given as RECORD ... or PLAY ....
function(record_and_play images mode)
  cmake_parse_arguments(ARG "" "" "RECORD;PLAY;ENV" ${ARGN})
  fresh("${RECORD_ROOT}")
  if(images)
    file(MAKE_DIRECTORY "${RECORD_ROOT}/LOG/TWAIN/images")
  endif()
  run(record "${RECORD_DS}" "${RECORD_ROOT}" ${ARG_RECORD})
  set(record_rc "${record_rc}" PARENT_SCOPE)
  set(record_err "${record_err}" PARENT_SCOPE)
  if(NOT record_rc EQUAL 0)
    fail("the recorded session failed")
  endif()
  fresh("${PLAY_ROOT}")
  file(WRITE "${PLAY_ROOT}/Core/TwainWrapper.conf" "recording = ../../record-root/LOG/TWAIN\nmode = ${mode}\n")
  set(ENV{TRACELET_PLAYBACK_RECORDING} "")
  foreach(assignment IN LISTS ARG_ENV)
    string(REGEX MATCH "^([^=]*)=(.*)$" _ "${assignment}")
    set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
  endforeach()
  run(play "${PLAY_DS}" "${PLAY_ROOT}" ${ARG_PLAY})
  foreach(v rc out err)
    set(play_${v} "${play_${v}}" PARENT_SCOPE)
  endforeach()
endfunction()

# The saved pages of both sessions, byte for byte (same: ON) or by size only.
function(compare_pages same)
  file(GLOB recorded RELATIVE "${RECORD_ROOT}/scans" "${RECORD_ROOT}/scans/*")
  file(GLOB played RELATIVE "${PLAY_ROOT}/scans" "${PLAY_ROOT}/scans/*")
  if(NOT recorded OR NOT recorded STREQUAL played)
    fail("pages ${played}, recorded ${recorded}")
  endif()
  foreach(page IN LISTS recorded)
    file(SIZE "${RECORD_ROOT}/scans/${page}" a)
    file(SIZE "${PLAY_ROOT}/scans/${page}" b)
    if(NOT a EQUAL b)
      fail("${page}: ${b} bytes, recorded ${a}")
    endif()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${RECORD_ROOT}/scans/${page}"
                            "${PLAY_ROOT}/scans/${page}" RESULT_VARIABLE differ)
    if(same AND NOT differ EQUAL 0)
      fail("${page} differs from the recorded page")
    elseif(NOT same AND differ EQUAL 0)
      fail("${page} is the recorded page, though no image bytes were recorded")
    endif()
  endforeach()
endfunction()

# The two traces, as tracelet-log diff compares them (addresses, handles,
# Ids and times aside): the same calls with the same states.
function(compare_traces)
  file(GLOB recorded "${RECORD_ROOT}/LOG/TWAIN/Twainlog_*.txt")
  file(GLOB played "${PLAY_ROOT}/LOG/TWAIN/Twainlog_*.txt")
  list(GET recorded -1 a)
  list(GET played -1 b)
  execute_process(COMMAND "${READER}" diff "${a}" "${b}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    fail("the played trace differs from the recorded one:\n${out}")
  endif()
endfunction()

# The session ran to its end; the companion said nothing, or `said` once.
function(expect_end said)
  if(NOT play_rc EQUAL 0)
    fail("the played session failed")
  endif()
  string(REGEX MATCHALL "Tracelet playback companion: [^\n]*" lines "${play_err}")
  if(said)
    string(REGEX MATCHALL "${said}" found "${lines}")
    list(LENGTH found times)
    if(NOT times EQUAL 1)
      fail("the companion said \"${said}\" ${times} times")
    endif()
  elseif(lines)
    fail("the companion spoke")
  endif()
endfunction()

# The session failed, and the companion said `said`.
function(expect_failure said)
  if(play_rc EQUAL 0)
    fail("the played session did not fail")
  endif()
  if(NOT play_err MATCHES "${said}")
    fail("the companion did not say \"${said}\"")
  endif()
endfunction()

# The notices of both traces. A notice from the source's own thread meets
# the application's next calls in an order that depends on timing, so only
# the notices themselves are compared.
function(compare_notices)
  foreach(side RECORD PLAY)
    file(GLOB logs "${${side}_ROOT}/LOG/TWAIN/Twainlog_*.txt")
    list(GET logs -1 log)
    file(STRINGS "${log}" ${side} REGEX "^\\[[0-9]+\\] \\[DS\\] ")
    list(TRANSFORM ${side} REPLACE "^\\[[0-9]+\\] " "")
  endforeach()
  if(NOT RECORD OR NOT RECORD STREQUAL PLAY)
    fail("notices played: ${PLAY}, recorded: ${RECORD}")
  endif()
endfunction()

if(CASE STREQUAL "images")
  # The demo's session: a page by memory transfer, then one by native transfer.
  record_and_play(ON strict)
  expect_end("")
  compare_pages(ON)
  compare_traces()
elseif(CASE STREQUAL "no-images")
  record_and_play(OFF strict)
  expect_end("no image bytes")
  compare_pages(OFF)
elseif(CASE STREQUAL "source-thread")
  record_and_play(ON strict RECORD --source-thread -x memory PLAY -x memory)
  expect_end("")
  compare_pages(ON)
  compare_notices()
elseif(CASE STREQUAL "buffer-size")
  record_and_play(ON strict RECORD -x memory PLAY --buffer-size 10000 -x memory)
  expect_end("")
  compare_pages(ON)
elseif(CASE STREQUAL "order-strict")
  record_and_play(ON strict RECORD --frame 0,0,4,5)
  expect_failure("does not match the recording, which expects call [0-9]+ of [0-9]+, "
                 "DG_IMAGE/DAT_IMAGELAYOUT/MSG_SET; it fails with TWCC_SEQERROR")
elseif(CASE STREQUAL "order-tolerant")
  record_and_play(ON tolerant RECORD --frame 0,0,4,5)
  expect_end("")
elseif(CASE STREQUAL "no-recording")
  record_and_play(ON strict ENV "TRACELET_PLAYBACK_RECORDING=${PLAY_ROOT}/nowhere")
  expect_failure("Tracelet playback companion: recording \"[^\n]*/nowhere\" cannot be played: no such file: "
                 "[^\n]*; every call fails with TWRC_FAILURE\n")
else()
  message(FATAL_ERROR "unknown case ${CASE}")
endif()
