# Drives rom-pack, and make-patch from a folder, on the sample game:
# cmake -DTOOL=... -DPATCH=... -DWORK=... -P tool_rom_pack_test.cmake
# Leaves WORK/packed-edited.nds, the sample packed from its folder with a data file grown, for the
# boot test.
cmake_minimum_required(VERSION 3.20)

include(${CMAKE_CURRENT_LIST_DIR}/../support/run_tool.cmake)

# expect_files(DIR NAME...): DIR holds exactly these names, hidden ones included.
function(expect_files dir)
  file(GLOB names RELATIVE ${dir} ${dir}/*)
  list(SORT names)
  set(expected ${ARGN})
  list(SORT expected)
  if(NOT "${names}" STREQUAL "${expected}")
    message(FATAL_ERROR "${dir} holds \"${names}\", expected \"${expected}\"")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
run(0 make-sample ${WORK}/sample --size 1)
set(original ${WORK}/sample/quillmoor.nds)

# An untouched folder packs to the bytes of rom-rebuild.
run(0 rom-unpack ${original} ${WORK}/folder)
run(0 rom-pack ${WORK}/folder ${WORK}/packed.nds)
run(0 rom-rebuild ${original} ${WORK}/rebuilt.nds)
expect_same(${WORK}/packed.nds ${WORK}/rebuilt.nds)

# A data file made larger is the one difference, and make-patch from the folder makes the patch
# that turns the original into exactly the packed ROM, leaving nothing else beside OUT.
run(0 rom-ls ${original})
string(REGEX MATCH "\n[0-9]+ ([^\n]+\\.bin)\n" line "${last_output}")
set(grown ${CMAKE_MATCH_1})
if(grown STREQUAL "")
  message(FATAL_ERROR "rom-ls names no .bin file:\n${last_output}")
endif()
file(APPEND ${WORK}/folder/data/${grown} "grown by the translators, well past its old end")
run(0 rom-pack ${WORK}/folder ${WORK}/packed-edited.nds)
run(1 rom-diff ${original} ${WORK}/packed-edited.nds)
if(NOT last_output STREQUAL "changed ${grown}\n")
  message(FATAL_ERROR "rom-diff after growing ${grown} printed:\n${last_output}")
endif()
file(MAKE_DIRECTORY ${WORK}/patch)
run(0 make-patch ${original} ${WORK}/folder ${WORK}/patch/edited.patch)
expect_files(${WORK}/patch edited.patch edited.patch.card)
execute_process(COMMAND ${PATCH} ${original} ${WORK}/patched.nds --archive ${WORK}/patch/edited.patch --quiet
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "quillmoor-patch with the folder's patch: exit ${rc}\n${err}")
endif()
expect_same(${WORK}/patched.nds ${WORK}/packed-edited.nds)

# A folder that no longer matches its manifest is refused, naming the file, and neither command
# writes anything; nor does rom-pack into a folder that does not exist.
file(WRITE ${WORK}/folder/data/added.bin "x")
file(MAKE_DIRECTORY ${WORK}/out)
run(1 rom-pack ${WORK}/folder ${WORK}/out/packed.nds)
if(NOT last_error MATCHES "rom folder - data/added.bin: not in manifest.txt")
  message(FATAL_ERROR "rom-pack of a folder with a file added said:\n${last_error}")
endif()
run(1 make-patch ${original} ${WORK}/folder ${WORK}/out/refused.patch)
expect_files(${WORK}/out)
file(REMOVE ${WORK}/folder/data/added.bin)
run(1 rom-pack ${WORK}/folder ${WORK}/missing/packed.nds)
if(EXISTS ${WORK}/missing)
  message(FATAL_ERROR "rom-pack into a missing folder left ${WORK}/missing")
endif()
