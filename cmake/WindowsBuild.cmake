# The Windows build (MinGW-w64 and Qt for MinGW, see scripts/windows.sh): every program goes
# to bin/ with the DLLs and plugins it loads beside it, so it runs under Wine as it lies.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# This machine's own programs the build uses (scripts/windows.sh builds them): the icon maker,
# and the stand-ins the end-to-end runs under Wine meet. Without them the programs carry no
# icon and those runs are left out.
set(TIKTAAL_HOST_TOOLS "" CACHE PATH
    "Folder of this machine's tiktaal-icons, tiktaal-board, tiktaal-sntp-responder and tiktaal-modem")

# GCC 12 warns falsely of overlapping copies in optimised std::string concatenation
# ("#" + text); the Windows build is the optimised one.
add_compile_options(-Wno-restrict)

# The GCC runtime of the toolchain that compiled Qt.
get_filename_component(mingw_gcc_dir ${CMAKE_CXX_COMPILER} DIRECTORY)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE mingw_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                OUTPUT_VARIABLE mingw_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
                OUTPUT_VARIABLE mingw_winpthread OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS ${mingw_winpthread})
  set(mingw_winpthread /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll)
endif()

get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(qt_bin_dir ${qt_core_dll} DIRECTORY)
get_filename_component(qt_prefix ${qt_bin_dir} DIRECTORY)
set(TIKTAAL_WINDOWS_RUNTIME
  ${mingw_libstdcxx} ${mingw_libgcc} ${mingw_winpthread}
  ${qt_bin_dir}/Qt6Core.dll ${qt_bin_dir}/Qt6Gui.dll ${qt_bin_dir}/Qt6Widgets.dll)
set(TIKTAAL_WINDOWS_PLUGINS
  platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll
  styles/qwindowsvistastyle.dll)

set(runtime_commands)
foreach(dll ${TIKTAAL_WINDOWS_RUNTIME})
  list(APPEND runtime_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${dll}
       ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/)
endforeach()
foreach(plugin ${TIKTAAL_WINDOWS_PLUGINS})
  get_filename_component(plugin_dir ${plugin} DIRECTORY)
  list(APPEND runtime_commands
       COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${plugin_dir}
       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qt_prefix}/plugins/${plugin}
               ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${plugin_dir}/)
endforeach()
add_custom_target(windows_runtime ALL ${runtime_commands}
                  COMMENT "DLLs and Qt plugins beside the programs")

# A program's icon (drawn by the host's icon maker), version information and manifest.
set(TIKTAAL_ICON_SIZES 16 20 24 32 40 48 64 128 256)
if(TIKTAAL_HOST_TOOLS)
  set(TIKTAAL_ICO ${CMAKE_BINARY_DIR}/tiktaal.ico)
  add_custom_command(OUTPUT ${TIKTAAL_ICO}
                     COMMAND ${TIKTAAL_HOST_TOOLS}/tiktaal-icons --ico ${TIKTAAL_ICO} ${TIKTAAL_ICON_SIZES}
                     DEPENDS ${TIKTAAL_HOST_TOOLS}/tiktaal-icons VERBATIM)
  add_custom_target(windows_icon DEPENDS ${TIKTAAL_ICO})
endif()
string(REPLACE "." ";" version_parts "${PROJECT_VERSION}.0.0.0")
list(SUBLIST version_parts 0 4 version_parts)
list(JOIN version_parts "," TIKTAAL_VERSION_COMMAS)
list(JOIN version_parts "." TIKTAAL_VERSION_QUAD)

function(tiktaal_windows_resources target description)
  set(TIKTAAL_PROGRAM ${target})
  set(TIKTAAL_DESCRIPTION ${description})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  set(TIKTAAL_MANIFEST ${dir}/${target}.manifest)
  set(TIKTAAL_ICON_RESOURCE "")
  if(TIKTAAL_ICO)
    set(TIKTAAL_ICON_RESOURCE "1 ICON \"${TIKTAAL_ICO}\"")
    add_dependencies(${target} windows_icon)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/program.manifest ${TIKTAAL_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  set_source_files_properties(${dir}/${target}.rc PROPERTIES
                              OBJECT_DEPENDS "${TIKTAAL_ICO};${TIKTAAL_MANIFEST}")
endfunction()
