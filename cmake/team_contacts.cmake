# Who made the translation, where players download the program and where they ask for help. The
# guide (scripts/make-guide), the page, quillmoor-patch --help and the About box show them. The
# defaults are placeholders that say so; a team sets its own when it configures the build:
#   cmake -S . -B build/release -DQM_TEAM_NAME="Quillmoor FR" -DQM_DOWNLOAD_URL=https://... -DQM_HELP_URL=https://...
set(QM_TEAM_NAME "[NOM DE L'ÉQUIPE]" CACHE STRING "The translation team's name, as players read it")
set(QM_DOWNLOAD_URL "https://A-DEFINIR.invalid/" CACHE STRING
    "Where players download the program, the browser edition and the guide")
set(QM_HELP_URL "https://A-DEFINIR.invalid/aide" CACHE STRING "Where players ask for help")

# The values end up in C++ strings, a resource script and HTML: characters that one of them would
# need escaped are refused rather than escaped three ways.
foreach(name QM_TEAM_NAME QM_DOWNLOAD_URL QM_HELP_URL)
  if("${${name}}" STREQUAL "" OR "${${name}}" MATCHES "[\"\\\\<>&]")
    message(FATAL_ERROR "${name} must not be empty nor hold any of \" \\ < > &: '${${name}}'")
  endif()
endforeach()
foreach(name QM_DOWNLOAD_URL QM_HELP_URL)
  if(NOT "${${name}}" MATCHES "^https?://[^ ]+$")
    message(FATAL_ERROR "${name} must be an http:// or https:// address without spaces: '${${name}}'")
  endif()
endforeach()

# For the C++ front ends: ui/team_contacts.h in the build tree.
configure_file(${PROJECT_SOURCE_DIR}/ui/team_contacts.h.in ${PROJECT_BINARY_DIR}/generated/ui/team_contacts.h @ONLY)
