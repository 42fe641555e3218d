# The packed patch archive that the patchers carry (quillmoor-patch, the Windows program, the
# browser edition), with the identity card that make-patch writes beside it.
set(QM_PATCH_ARCHIVE "" CACHE FILEPATH
    "Packed patch archive to build into the patchers, its identity card beside it as ARCHIVE.card (default: the sample game's, made by the native build)")

# qm_patch_archive(<archive var> <card var>): the two files to embed, for the calling folder's
# targets. A named archive comes with the card beside it, or with an empty card. Without one, a
# native build makes the sample game's (seed 1) with its own toolkit: make-sample, then make-patch,
# which checks its result by patching; both are deterministic, and nothing the sample's
# translation changes depends on its size, so that archive patches the sample of every size. A
# cross build cannot run the toolkit: it embeds an empty stand-in, and every run then fails at
# the archive.
function(qm_patch_archive archive_var card_var)
  if(QM_PATCH_ARCHIVE)
    set(archive ${QM_PATCH_ARCHIVE})
    set(card ${QM_PATCH_ARCHIVE}.card)
    if(NOT EXISTS ${card})
      set(card ${CMAKE_CURRENT_BINARY_DIR}/no.card)
      file(WRITE ${card} "")
    endif()
  elseif(NOT CMAKE_CROSSCOMPILING)
    set(sample_dir ${PROJECT_BINARY_DIR}/patch/sample)
    set(archive ${PROJECT_BINARY_DIR}/patch/quillmoor.patch)
    set(card ${archive}.card)
    add_custom_command(
      OUTPUT ${archive} ${card}
      COMMAND quillmoor-tool make-sample ${sample_dir} --size 2 --seed 1
      COMMAND quillmoor-tool make-patch ${sample_dir}/quillmoor.nds ${sample_dir}/quillmoor-fr.nds ${archive}
      COMMAND ${CMAKE_COMMAND} -E remove_directory ${sample_dir}
      DEPENDS quillmoor-tool
      COMMENT "Making the default patch archive from the sample game"
      VERBATIM)
  else()
    message(WARNING "No QM_PATCH_ARCHIVE given: the patcher carries an empty archive and refuses every ROM")
    set(archive ${CMAKE_CURRENT_BINARY_DIR}/no.patch)
    set(card ${CMAKE_CURRENT_BINARY_DIR}/no.card)
    file(WRITE ${archive} "")
    file(WRITE ${card} "")
  endif()
  set(${archive_var} ${archive} PARENT_SCOPE)
  set(${card_var} ${card} PARENT_SCOPE)
  # Tests and scripts use the archive that the patchers carry.
  set(QM_EMBEDDED_ARCHIVE ${archive} CACHE INTERNAL "The packed patch archive the patchers carry")
endfunction()
