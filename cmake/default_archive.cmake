# The archive built into the patchers when QM_PATCH_ARCHIVE is not set: the patch of the sample
# game (seed 1), made by the build's own quillmoor-tool with make-sample and make-patch (which
# checks its result by patching). Both steps are deterministic, and nothing the sample's
# translation changes depends on its size, so this archive patches the sample of every size.
set(default_sample_dir ${PROJECT_BINARY_DIR}/patch/sample)
set(archive_file ${PROJECT_BINARY_DIR}/patch/quillmoor.patch)
add_custom_command(
  OUTPUT ${archive_file} ${archive_file}.card
  COMMAND quillmoor-tool make-sample ${default_sample_dir} --size 2 --seed 1
  COMMAND quillmoor-tool make-patch ${default_sample_dir}/quillmoor.nds ${default_sample_dir}/quillmoor-fr.nds
          ${archive_file}
  COMMAND ${CMAKE_COMMAND} -E remove_directory ${default_sample_dir}
  DEPENDS quillmoor-tool
  COMMENT "Making the default patch archive from the sample game"
  VERBATIM)
add_custom_target(default_archive DEPENDS ${archive_file} ${archive_file}.card)
