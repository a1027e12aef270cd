# What a Windows user installs: version resources in the package's DLLs and
# program, and the target `package`, which puts them, stripped, into
# dist/tovixapi-<version>-win32.zip with the README for Windows and
# SHA256SUMS, and their debug information beside it (package/make_package.py).

# One version resource per file, all carrying TOVIX_VERSION.
function(tovix_version_resource target file type description)
  set(TOVIX_RC_FILE ${file})
  set(TOVIX_RC_NAME ${target})
  set(TOVIX_RC_TYPE ${type})
  set(TOVIX_RC_DESCRIPTION ${description})
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in
    ${CMAKE_BINARY_DIR}/version/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/version/${target}.rc)
endfunction()

tovix_version_resource(TovixAPI TovixAPI.dll VFT_DLL "TovixAPI: the decoder card for the media-center host")
tovix_version_resource(tovixsim tovixsim.dll VFT_DLL "TovixAPI: the simulated decoder card's components")
tovix_version_resource(tovixdiag tovixdiag.exe VFT_APP "TovixAPI: diagnostic for the decoder card")

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TOVIX_PACKAGE ${CMAKE_BINARY_DIR}/dist/tovixapi-${TOVIX_VERSION}-win32.zip)
add_custom_target(package
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/package/make_package.py
    --version ${TOVIX_VERSION} --source ${CMAKE_SOURCE_DIR} --objcopy ${CMAKE_OBJCOPY}
    --out ${CMAKE_BINARY_DIR}/dist
    $<TARGET_FILE:TovixAPI> $<TARGET_FILE:tovixdiag> $<TARGET_FILE:tovixsim>
  DEPENDS TovixAPI tovixdiag tovixsim
  BYPRODUCTS ${TOVIX_PACKAGE}
  COMMENT "Packaging ${TOVIX_PACKAGE}"
  VERBATIM)
