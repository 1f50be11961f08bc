# Installs this build into a scratch prefix and checks what a desktop needs of it: the
# program, an entry the desktop's own checker accepts, and the icon the entry names.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}" OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
foreach(f bin/quenmoor share/applications/treelark.desktop share/icons/hicolor/scalable/apps/treelark.svg
          share/quenmoor/FrameworkConfig.xsd)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# Packagers install the program's own files by component.
file(REMOVE_RECURSE "${PREFIX}-component")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}-component" --component quenmoor
                OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT EXISTS "${PREFIX}-component/share/quenmoor/FrameworkConfig.xsd")
  message(FATAL_ERROR "the quenmoor component lacks share/quenmoor/FrameworkConfig.xsd")
endif()
execute_process(COMMAND desktop-file-validate "${PREFIX}/share/applications/treelark.desktop"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "desktop entry refused:\n${out}")
endif()
file(STRINGS "${PREFIX}/share/applications/treelark.desktop" exec REGEX "^Exec=")
if(NOT exec MATCHES "^Exec=quenmoor ")
  message(FATAL_ERROR "the entry does not start the installed program: ${exec}")
endif()
