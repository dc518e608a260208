# What a release wheel (release/zig_wheel.sh) carries beyond the extension:
# the static orvik-session of its architecture (release/static_session.sh),
# which needs no C library of the target machine, in place of one built here;
# and in .dist-info the licences of everything the two link in and the SBOM
# naming those components (release/wheel_metadata.py writes both).
include_guard(GLOBAL)
set(ORVIK_SESSION_EXECUTABLE "" CACHE FILEPATH "A static orvik-session for the wheel, instead of building one")
set(ORVIK_WHEEL_METADATA "" CACHE PATH "A folder of licenses/ and sboms/ for the wheel's .dist-info")
if(SKBUILD AND ORVIK_SESSION_EXECUTABLE)
  install(PROGRAMS ${ORVIK_SESSION_EXECUTABLE} DESTINATION ${SKBUILD_SCRIPTS_DIR} RENAME orvik-session)
endif()
if(SKBUILD AND ORVIK_WHEEL_METADATA)
  install(DIRECTORY ${ORVIK_WHEEL_METADATA}/ DESTINATION ${SKBUILD_METADATA_DIR})
endif()
