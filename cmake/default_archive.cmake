# The archive built into the patchers when QM_PATCH_ARCHIVE is not set: packed by the build's own
# quillmoor-tool into ${archive_file}.
set(archive_file ${PROJECT_BINARY_DIR}/patch/quillmoor.patch)
add_custom_command(
  OUTPUT ${archive_file}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/patch
  COMMAND quillmoor-tool archive-pack ${PROJECT_SOURCE_DIR}/tests/data/empty-archive ${archive_file}
  DEPENDS quillmoor-tool ${PROJECT_SOURCE_DIR}/tests/data/empty-archive/0.bin
  COMMENT "Packing the default patch archive"
  VERBATIM)
add_custom_target(default_archive DEPENDS ${archive_file})
